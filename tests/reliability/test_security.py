"""The link is private to its user, and no argument can overflow a buffer.

The module, running as this user (root), must refuse a socket folder that is
a symbolic link, belongs to someone else or is open to others, and a pipe
whose server runs as another user (nobody); the bundled terminal must refuse
a client of another user. The folder cases run in a private mount namespace
with its own /tmp, so the real folder that other tests and terminals use is
never touched. Every text argument is taken whole up to its limit, arrives
on the wire unit for unit, and is refused one unit later, with nothing sent.
"""

from __future__ import annotations

import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path
from typing import Any, Callable, Iterator, List, Tuple

import pytest

import quillmark
import wire
from fake_peer import FakePeer
from terminal_tools import RawClient, TerminalHome

AS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0
NOBODY_UID = 65534
NOBODY_GID = 65534
PROGRAM = "/nonexistent/terminal64"

needs_root = pytest.mark.skipif(not AS_ROOT, reason="acting as another user needs root")


def mount_namespaces_work() -> bool:
    if not AS_ROOT or shutil.which("unshare") is None:
        return False
    probe = subprocess.run(["unshare", "-m", "true"], capture_output=True)
    return probe.returncode == 0


# Run by the module's user in a new mount namespace: the module is imported
# first (it may live under /tmp), then a fresh /tmp hides the real one.
FOLDER_SCENARIO = textwrap.dedent(
    """
    import os, subprocess, sys
    import quillmark
    subprocess.run(["mount", "-t", "tmpfs", "none", "/tmp"], check=True)
    folder = f"/tmp/zrv-{os.getuid()}"
    case = sys.argv[1]
    if case == "symbolic-link":
        os.mkdir("/tmp/elsewhere", 0o700)
        os.symlink("/tmp/elsewhere", folder)
    else:
        os.mkdir(folder)
        os.chmod(folder, {"other-owner": 0o700, "group-open": 0o770,
                          "other-search": 0o701, "private": 0o700}[case])
        if case == "other-owner":
            os.chown(folder, 65534, 65534)
    quillmark.initialize(sys.argv[2])
    print(quillmark.last_error()[1])
    # A refused folder is left as it was: nothing was created beside it.
    print(sorted(os.listdir("/tmp")))
    """
)


@pytest.mark.skipif(not mount_namespaces_work(), reason="needs root and mount namespaces")
@pytest.mark.parametrize(
    "case, reason",
    [
        ("symbolic-link", "'/tmp/zrv-0' is a symbolic link"),
        ("other-owner", "'/tmp/zrv-0' belongs to another user"),
        ("group-open", "'/tmp/zrv-0' is open to other users (mode 770)"),
        ("other-search", "'/tmp/zrv-0' is open to other users (mode 701)"),
    ],
)
def test_unsafe_socket_folder_is_refused(case: str, reason: str) -> None:
    done = subprocess.run(
        ["unshare", "-m", "--propagation", "private", sys.executable, "-c", FOLDER_SCENARIO,
         case, PROGRAM],
        capture_output=True, text=True, timeout=60,
    )
    assert done.returncode == 0, done.stderr
    message, listing = done.stdout.splitlines()
    assert message == f"IPC initialize failed, CreateFile failed [13], {reason}"
    expected = ["elsewhere", "zrv-0"] if case == "symbolic-link" else ["zrv-0"]
    assert listing == repr(expected)


@pytest.mark.skipif(not mount_namespaces_work(), reason="needs root and mount namespaces")
def test_private_socket_folder_is_used() -> None:
    done = subprocess.run(
        ["unshare", "-m", "--propagation", "private", sys.executable, "-c", FOLDER_SCENARIO,
         "private", PROGRAM],
        capture_output=True, text=True, timeout=60,
    )
    assert done.returncode == 0, done.stderr
    # No pipe there, so the module goes on to start the terminal.
    assert done.stdout.splitlines()[0] == (
        f"IPC initialize failed, Process create failed '{PROGRAM}'"
    )


LISTENER_AS_NOBODY = textwrap.dedent(
    """
    import os, socket, sys
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(sys.argv[1])          # in this user's private folder
    os.chmod(sys.argv[1], 0o777)
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)                    # from here on: nobody
    listener.listen(4)                  # the credentials a client sees
    print("ready", flush=True)
    while True:
        connection, _ = listener.accept()
        connection.sendall(b"\\x0c\\x00\\x00\\x00\\x04\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
                           b"\\xa0\\x0f\\x00\\x00")
    """
)


@needs_root
def test_pipe_served_by_another_user_is_refused(tmp_path: Path) -> None:
    program = tmp_path / "terminal64"
    program.write_bytes(b"not a program\n")
    socket_path = wire.socket_path(str(program))
    os.makedirs(os.path.dirname(socket_path), mode=0o700, exist_ok=True)
    listener = subprocess.Popen(
        [sys.executable, "-c", LISTENER_AS_NOBODY, socket_path],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    )
    try:
        assert listener.stdout is not None
        assert listener.stdout.readline().strip() == "ready", listener.stderr.read()
        assert quillmark.initialize(str(program)) is False
        assert quillmark.last_error() == (
            -10003,
            "IPC initialize failed, CreateFile failed [13], the pipe's server runs as another user",
        )
    finally:
        listener.kill()
        listener.wait()
        for stream in (listener.stdout, listener.stderr):
            if stream is not None:
                stream.close()
        if os.path.exists(socket_path):
            os.unlink(socket_path)


@pytest.fixture
def open_folder() -> Iterator[Path]:
    """A folder that nobody may enter (tmp_path's parents are private)."""
    folder = Path(tempfile.mkdtemp(prefix="quillmark-open-"))
    folder.chmod(0o755)
    try:
        yield folder
    finally:
        shutil.rmtree(folder)


@needs_root
def test_terminal_refuses_a_client_of_another_user(
    terminal: TerminalHome, open_folder: Path
) -> None:
    # The folder already keeps others out; a second name for the socket in
    # an open folder reaches past it, to the terminal's own check.
    door = open_folder / "socket"
    os.link(terminal.socket_path, door)
    os.chmod(door, 0o777)
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        try:
            os.setgroups([])
            os.setgid(NOBODY_GID)
            os.setuid(NOBODY_UID)
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as intruder:
                intruder.settimeout(10)
                intruder.connect(str(door))
                try:
                    intruder.sendall(struct.pack("<II", 4, 173))
                    answer = intruder.recv(64)
                    result = f"answered {answer.hex()}" if answer else "closed"
                except OSError as error:
                    result = f"closed {error.errno}"
        except BaseException as error:  # reported to the parent
            result = repr(error)
        finally:
            os.write(write_end, result.encode())
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        result = pipe.read()
    os.waitpid(child, 0)
    assert result.startswith("closed"), result
    with RawClient(terminal.socket_path) as raw:
        assert raw.call(173)[0] == 0


# ---- Text arguments at their limits ----

ASTRAL = "\U0001d11e"  # one character, two UTF-16 units


def fitting_texts(limit: int) -> List[str]:
    """Texts of exactly `limit` units: plain, wide, and ending in a pair."""
    return [
        "A" * limit,
        "\u20ac" * limit,
        ASTRAL * (limit // 2) + "B" * (limit % 2),
        "C" * (limit - 2) + ASTRAL,
    ]


def oversized_texts(limit: int) -> List[str]:
    """One unit too many, also when only the second half of a pair is."""
    return ["A" * (limit + 1), "C" * (limit - 1) + ASTRAL, ASTRAL * (limit // 2 + 1)]


def counted_text(request: bytes, offset: int) -> str:
    (units,) = struct.unpack_from("<I", request, offset)
    return request[offset + 4 : offset + 4 + 2 * units].decode("utf-16-le")


def fixed_text(request: bytes, offset: int, units: int) -> str:
    field = request[offset : offset + 2 * units].decode("utf-16-le")
    return field.split("\0", 1)[0]


# (call with the text, limit in units, reply that lets the call finish, the
# text as it arrived in the recorded request)
TextCase = Tuple[Callable[[str], Any], int, bytes, Callable[[bytes], str]]
TEXT_CASES: List[TextCase] = [
    (lambda t: quillmark.symbol_info(t), 29, wire.reply(170, -4),
     lambda r: counted_text(r, 8)),
    (lambda t: quillmark.symbols_get(group=t), 1997, wire.reply(175, 0, wire.u32(0)),
     lambda r: counted_text(r, 8)),
    (lambda t: quillmark.copy_rates_from_pos(t, 1, 0, 1), 29, wire.reply(108, -4),
     lambda r: counted_text(r, 8)),
    (lambda t: quillmark.login(5, password=t, timeout=1), 253, wire.reply(5, -6),
     lambda r: counted_text(r, 20)),
    (lambda t: quillmark.login(5, server=t, timeout=1), 253, wire.reply(5, -6),
     lambda r: counted_text(r, 24)),
    (lambda t: quillmark.order_send(action=1, symbol=t), 29, wire.reply(161, -4),
     lambda r: fixed_text(r, 8 + 20, 32)),
    (lambda t: quillmark.order_send(action=1, comment=t), 29, wire.reply(161, -4),
     lambda r: fixed_text(r, 8 + 152, 32)),
]
CASE_IDS = ["symbol", "group", "rates-symbol", "password", "server", "request-symbol",
            "request-comment"]


@pytest.mark.parametrize("call, limit, reply, sent", TEXT_CASES, ids=CASE_IDS)
def test_text_at_its_limit_arrives_whole(fake_terminal: FakePeer, call: Callable, limit: int,
                                         reply: bytes, sent: Callable) -> None:
    fake_terminal.connect()
    texts = fitting_texts(limit)
    for text in texts:
        fake_terminal.reply_raw(reply)
        call(text)
    requests = fake_terminal.requests()
    assert [sent(request) for request in requests] == texts


@pytest.mark.parametrize("call, limit, reply, sent", TEXT_CASES, ids=CASE_IDS)
def test_text_past_its_limit_is_refused_unsent(fake_terminal: FakePeer, call: Callable,
                                               limit: int, reply: bytes, sent: Callable) -> None:
    fake_terminal.connect()
    for text in oversized_texts(limit):
        call(text)
        assert quillmark.last_error()[0] == -2, text
    assert fake_terminal.requests() == []


PATH_LIMIT = 257


@pytest.mark.parametrize("kind", ["plain", "wide", "pair-at-end"])
@pytest.mark.parametrize("extra", [0, 1], ids=["at-limit", "one-past"])
def test_path_at_its_limit(kind: str, extra: int, tmp_path: Path) -> None:
    prefix = str(tmp_path) + "/"
    room = PATH_LIMIT + extra - len(prefix)
    tail = {"plain": "A" * room, "wide": "\u20ac" * room,
            "pair-at-end": "C" * (room - 2) + ASTRAL}[kind]
    path = prefix + tail
    assert quillmark.initialize(path=path) is False
    code, message = quillmark.last_error()
    if extra == 0:
        # Hashed, looked for, and reported whole.
        assert (code, message) == (-10003, f"IPC initialize failed, Process create failed '{path}'")
    else:
        assert (code, message) == (-2, 'Invalid "path" argument')
