"""Pipe naming, and starting a terminal that is not yet running."""

from __future__ import annotations

import json
import os
import signal
import socket
import struct
import subprocess
import sys
import time
from pathlib import Path
from typing import Any, Dict, Iterator

import pytest

import quillmark
import wire
from fake_peer import FakePeer, listen_at, write_stand_in
from terminal_tools import TerminalHome

def spelling(peer: FakePeer, tmp_path: Path, how: str) -> str:
    if how == "as-given":
        return peer.path
    if how == "upper-case":
        return peer.path.upper()
    if how == "relative":
        return os.path.relpath(peer.path)
    link = tmp_path / "linked64"
    link.symlink_to(peer.path)
    if os.path.realpath(link) != os.path.realpath(peer.path):
        pytest.skip("final paths do not resolve symbolic links here (Wine)")
    return str(link)


@pytest.mark.parametrize("how", ["as-given", "upper-case", "relative", "through-a-link"])
def test_spellings_of_one_path_reach_one_pipe(fake_terminal: FakePeer, tmp_path: Path, how: str) -> None:
    # The peer listens where the name computed here (SHA-256 of the
    # lower-cased real path in UTF-16LE) puts it.
    fake_terminal.reply(4, 1, wire.u32(4000))
    fake_terminal.reply(109, 1, wire.u32(2))

    assert quillmark.initialize(path=spelling(fake_terminal, tmp_path, how)) is True, quillmark.last_error()


def test_non_ascii_path_is_lower_cased_unit_by_unit(tmp_path: Path) -> None:
    peer = FakePeer(tmp_path / "ÉtudeÜДОМ")
    try:
        assert wire.socket_path(peer.path) == wire.socket_path(peer.path.lower())
        peer.connect()
    finally:
        quillmark.shutdown()
        peer.stop()


def wait_until_gone(path: str, seconds: float = 5.0) -> None:
    deadline = time.monotonic() + seconds
    while os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.02)


def process_state(pid: int) -> str:
    """The state letter of a process ("Z" for a zombie), "" once it is gone."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
    except OSError:
        return ""


def wait_until_ended(pid: int, seconds: float = 5.0) -> None:
    deadline = time.monotonic() + seconds
    while process_state(pid) not in ("Z", "") and time.monotonic() < deadline:
        time.sleep(0.02)


class FailingTruth:
    def __bool__(self) -> bool:
        raise RuntimeError("no truth value")


def signal_bit(number: int) -> int:
    return 1 << (number - 1)


@pytest.fixture
def odd_signal_state() -> Iterator[None]:
    """The caller ignores SIGUSR2 and blocks SIGUSR1, as a script may."""
    previous = signal.signal(signal.SIGUSR2, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGUSR1})
        signal.signal(signal.SIGUSR2, previous)


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
@pytest.mark.parametrize(
    "portable, switch",
    [(False, False), (True, True), (FailingTruth(), True)],
    ids=["plain", "portable", "failing-truth-test"],
)
def test_terminal_is_started_detached(
    tmp_path: Path, odd_signal_state: None, portable: Any, switch: bool
) -> None:
    program = write_stand_in(tmp_path / "install")
    try:
        assert quillmark.initialize(path=program, portable=portable) is True, quillmark.last_error()
    finally:
        quillmark.shutdown()

    started: Dict[str, Any] = json.loads((tmp_path / "install" / "launched.json").read_text())
    assert started["argv"] == ([program, "/portable"] if switch else [program])
    assert started["fds"] == ["/dev/null"] * 3
    assert started["sid"] == started["pid"] != os.getsid(0)
    assert started["signals"]["SigBlk"] == 0
    assert started["signals"]["SigIgn"] & signal_bit(signal.SIGUSR2) == 0

    # The stand-in ends once its link is closed; the next link call reaps it.
    wait_until_ended(started["pid"])
    quillmark.version()
    assert process_state(started["pid"]) == ""


def loaded_size(image: bytes) -> int:
    """How much of an executable the system maps: the end of its last ELF load
    segment. Debug information after it (a sanitizer build carries a lot)
    would let half of the file still run."""
    if image[:5] != b"\x7fELF\x02":
        return len(image)
    phoff, = struct.unpack_from("<Q", image, 0x20)
    entry_size, count = struct.unpack_from("<HH", image, 0x36)
    end = 0
    for index in range(count):
        kind, = struct.unpack_from("<I", image, phoff + index * entry_size)
        offset, = struct.unpack_from("<Q", image, phoff + index * entry_size + 8)
        file_size, = struct.unpack_from("<Q", image, phoff + index * entry_size + 32)
        if kind == 1:  # PT_LOAD
            end = max(end, offset + file_size)
    return end or len(image)


def write_unstartable(program: Path, kind: str) -> None:
    """A file at `program` that cannot become a running terminal. Each one
    that could be run by a shell would leave "ran" beside it."""
    ran = program.with_name("ran")
    if kind == "missing":
        return
    if kind == "not-executable":
        program.write_text(f"#!/bin/sh\ntouch '{ran}'\n")
        program.chmod(0o644)
        return
    if kind == "missing-interpreter":
        program.write_text(f"#!{program.parent}/no-such-interpreter\ntouch '{ran}'\n")
    elif kind == "no-interpreter-line":
        program.write_text(f"touch '{ran}'\n")
    else:
        # The head of a real executable: a header alone is refused by the
        # system; more of it starts, then crashes before it can listen.
        image = Path(quillmark.terminal_path()).read_bytes()
        program.write_bytes(image[:64] if kind == "truncated-header" else image[: loaded_size(image) // 2])
    program.chmod(0o755)


@pytest.mark.parametrize(
    "kind",
    [
        "missing",
        "not-executable",
        "missing-interpreter",
        "no-interpreter-line",
        "truncated-header",
        "truncated-half",
    ],
)
def test_terminal_that_cannot_start(tmp_path: Path, kind: str) -> None:
    program = tmp_path / "terminal64"
    write_unstartable(program, kind)

    started = time.monotonic()
    assert quillmark.initialize(path=str(program)) is False
    assert quillmark.last_error() == (
        -10003,
        f"IPC initialize failed, Process create failed '{program}'",
    )
    # Reported at once, not after the minute given to a starting terminal.
    assert time.monotonic() - started < 5
    assert not (tmp_path / "ran").exists()


@pytest.mark.parametrize("in_current_folder", [True, False], ids=["beside", "absent"])
def test_bare_name_is_never_looked_up_on_path(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch, in_current_folder: bool
) -> None:
    # A program of the same name earlier on PATH would answer as a terminal.
    impostor = Path(write_stand_in(tmp_path / "on-path"))
    monkeypatch.setenv("PATH", f"{impostor.parent}{os.pathsep}{os.environ.get('PATH', '')}")
    current = tmp_path / "current"
    current.mkdir()
    if in_current_folder:
        write_stand_in(current)
    monkeypatch.chdir(current)
    name = impostor.name  # with its .exe on Windows, where nothing adds one

    started = time.monotonic()
    try:
        result = quillmark.initialize(path=name)
        error = quillmark.last_error()
    finally:
        quillmark.shutdown()
    if in_current_folder:
        assert result is True, error
        launched = json.loads((current / "launched.json").read_text())
        assert launched["argv"] == [name]
    else:
        assert result is False
        assert error == (-10003, f"IPC initialize failed, Process create failed '{name}'")
        assert time.monotonic() - started < 5
    assert not (impostor.parent / "launched.json").exists()


def descriptor_targets(pid: str, first: int = 0) -> Dict[int, str]:
    folder = Path(f"/proc/{pid}/fd")
    targets = {}
    for entry in folder.iterdir():
        try:
            targets[int(entry.name)] = os.readlink(entry)
        except OSError:
            pass  # closed while listed
    return {fd: target for fd, target in targets.items() if fd >= first}


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_terminal_inherits_no_descriptors(home: TerminalHome, tmp_path: Path) -> None:
    # Inheritable descriptors of every kind, as a script or its own parent
    # may leave them open.
    read_end, write_end = os.pipe()
    marker = os.open(tmp_path / "marker", os.O_CREAT | os.O_RDWR)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(str(tmp_path / "listener"))
    opened = [read_end, write_end, marker, listener.fileno()]
    try:
        for fd in opened:
            os.set_inheritable(fd, True)
        assert quillmark.initialize(path=home.exe) is True, quillmark.last_error()
        (terminal,) = home.running_pids()
        theirs = descriptor_targets(str(terminal))
        ours = descriptor_targets("self", first=3)
    finally:
        quillmark.shutdown()
        listener.close()
        for fd in opened[:3]:
            os.close(fd)

    assert [theirs[fd] for fd in range(3)] == ["/dev/null"] * 3
    held_here = {ours[fd] for fd in opened}
    assert str(tmp_path / "marker") in held_here
    # Anonymous inodes share one name per kind, and the terminal opens a
    # /dev/null of its own: neither tells where a descriptor came from.
    shared = set(theirs.values()) & set(ours.values())
    assert {t for t in shared if not t.startswith("anon_inode:") and t != "/dev/null"} == set()
