"""Pipe naming, and starting a terminal that is not yet running."""

from __future__ import annotations

import json
import subprocess
import os
import sys
import time
from pathlib import Path
from typing import Any, Dict, List

import pytest

import quillmark
import wire
from fake_peer import FakePeer, listen_at, write_stand_in

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


def zombie_children() -> List[int]:
    zombies = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            fields = Path(f"/proc/{entry}/stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] == "Z" and int(fields[1]) == os.getpid():
            zombies.append(int(entry))
    return zombies


class FailingTruth:
    def __bool__(self) -> bool:
        raise RuntimeError("no truth value")


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
@pytest.mark.parametrize(
    "portable, switch",
    [(False, False), (True, True), (FailingTruth(), True)],
    ids=["plain", "portable", "failing-truth-test"],
)
def test_terminal_is_started_detached(tmp_path: Path, portable: Any, switch: bool) -> None:
    program = write_stand_in(tmp_path / "install")
    try:
        assert quillmark.initialize(path=program, portable=portable) is True, quillmark.last_error()
    finally:
        quillmark.shutdown()
    wait_until_gone(wire.socket_path(program))

    started: Dict[str, Any] = json.loads((tmp_path / "install" / "launched.json").read_text())
    assert started["argv"] == ([program, "/portable"] if switch else [program])
    assert started["fds"] == ["/dev/null"] * 3
    assert started["sid"] != os.getsid(0)
    assert started["ppid"] != os.getpid()
    assert zombie_children() == []


@pytest.mark.parametrize("mode", [0o644, None], ids=["not-executable", "missing"])
def test_terminal_that_cannot_start(tmp_path: Path, mode: Any) -> None:
    program = tmp_path / "terminal64"
    if mode is not None:
        program.write_text("")
        program.chmod(mode)

    assert quillmark.initialize(path=str(program)) is False
    assert quillmark.last_error() == (
        -10003,
        f"IPC initialize failed, Process create failed '{program}'",
    )


@pytest.mark.skipif(sys.platform == "win32", reason="a socket file is POSIX")
def test_stale_socket_counts_as_a_missing_pipe(tmp_path: Path) -> None:
    program = tmp_path / "terminal64"
    program.write_text("")
    socket_path = wire.socket_path(str(program))
    os.makedirs(os.path.dirname(socket_path), mode=0o700, exist_ok=True)
    listener = listen_at(socket_path)
    listener.close()  # the file stays, nobody listens
    try:
        assert quillmark.initialize(path=str(program)) is False
        assert quillmark.last_error()[1].endswith(f"Process create failed '{program}'")
    finally:
        os.unlink(socket_path)


BUSY_PEER = """
import socket, sys, time
sys.path.insert(0, sys.argv[2])
import fake_peer
listener = fake_peer.listen_at(sys.argv[1])
listener.listen(0)
blocker = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
blocker.connect(sys.argv[1])  # the only place in the queue is now taken
print("ready", flush=True)
time.sleep(0.3)
listener.accept()[0].close()
connection, _ = listener.accept()
fake_peer.answer_as_terminal(connection, 4000)
"""


@pytest.mark.skipif(sys.platform == "win32", reason="the busy peer is a POSIX socket")
def test_busy_pipe_is_waited_for(tmp_path: Path) -> None:
    program = tmp_path / "terminal64"
    program.write_text("")  # not runnable: a launch would fail at once
    socket_path = wire.socket_path(str(program))
    tests = str(Path(__file__).resolve().parent)
    peer = subprocess.Popen(
        [sys.executable, "-c", BUSY_PEER, socket_path, tests], stdout=subprocess.PIPE, text=True
    )
    try:
        assert peer.stdout is not None and peer.stdout.readline().strip() == "ready"
        started = time.monotonic()
        assert quillmark.initialize(str(program)) is True, quillmark.last_error()
        assert time.monotonic() - started >= 0.25
    finally:
        quillmark.shutdown()
        peer.wait(timeout=10)
