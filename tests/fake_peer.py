"""A scriptable terminal peer on a real socket.

The module keeps the interpreter lock through each exchange, so the peer runs
in a process of its own: the test queues replies over the peer's standard
input before the module call that needs them, and the peer answers each
request it receives with the next queued reply, recording every request byte
for byte.

Run as a program it is that peer process; `launched_main` is the body of a
stand-in terminal executable that the module starts itself.
"""

from __future__ import annotations

import collections
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Any, Deque, Dict, List, Optional, Tuple

# Run as a program by an interpreter that adds no script folder to its path
# (an embeddable Windows CPython), the helpers beside this file are still found.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire  # noqa: E402

# How long the peer waits for a reply to be queued before it gives up on the
# request and drops the connection (so a forgotten reply fails, not hangs).
REPLY_WAIT_SECONDS = 5.0


# The terminal program's file name on this platform.
TERMINAL_NAME = "terminal64.exe" if sys.platform == "win32" else "terminal64"


def write_unrunnable(folder: Path, name: str = TERMINAL_NAME) -> Path:
    """A file where the terminal program would be that cannot run: should the
    peer in front of it be gone, a launch fails at once."""
    folder.mkdir(parents=True, exist_ok=True)
    executable = folder / name
    executable.write_bytes(b"not a program\n")
    executable.chmod(0o644)
    return executable


class PeerProcess:
    """Test-side handle of a helper process that says "ready" once it listens
    and then takes one JSON command per line on its standard input, answering
    each with one line."""

    def __init__(self, argv: List[str], what: str) -> None:
        self._process = subprocess.Popen(
            argv,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
            bufsize=1,
        )
        if self._read_line() != "ready":
            raise RuntimeError(f"{what} did not start")

    def _read_line(self) -> str:
        assert self._process.stdout is not None
        return self._process.stdout.readline().strip()

    def _command(self, op: str, **fields: Any) -> str:
        assert self._process.stdin is not None
        self._process.stdin.write(json.dumps({"op": op, **fields}) + "\n")
        self._process.stdin.flush()
        return self._read_line()

    def stop(self) -> None:
        if self._process.poll() is None:
            try:
                self._command("stop")
            except OSError:
                pass
            try:
                self._process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        for stream in (self._process.stdin, self._process.stdout):
            if stream is not None:
                stream.close()


class FakePeer(PeerProcess):
    """Test-side handle of a peer process listening for the terminal at `path`."""

    def __init__(self, folder: Path, name: str = TERMINAL_NAME, keep_existing: bool = False) -> None:
        executable = folder / name if keep_existing else write_unrunnable(folder, name)
        self.path = str(executable)
        self.socket_path = wire.socket_path(self.path)
        super().__init__([sys.executable, "-S", __file__, self.socket_path], "fake peer")

    def reply(self, command: int, status: int, payload: bytes = b"") -> None:
        self.reply_raw(wire.reply(command, status, payload))

    def reply_raw(self, data: bytes) -> None:
        self._command("reply", data=data.hex())

    def reply_then_close(self, data: bytes) -> None:
        self._command("reply_then_close", data=data.hex())

    def close_on_next(self) -> None:
        self._command("close")

    def delay(self, seconds: float) -> None:
        self._command("delay", seconds=seconds)

    def requests(self) -> List[bytes]:
        return [bytes.fromhex(item) for item in json.loads(self._command("requests"))]

    def clear(self) -> None:
        self._command("clear")

    def wait_closed(self) -> None:
        """Until the peer has closed its side of the connection."""
        self._command("wait_closed")

    def connect(self, build: int = 4000) -> None:
        """Initializes the module against this peer, then forgets the
        handshake and readiness requests."""
        import quillmark

        self.reply(4, 1, wire.u32(build))
        self.reply(109, 1, wire.u32(2))
        assert quillmark.initialize(path=self.path) is True, quillmark.last_error()
        self.clear()


# ---- The peer process ----


def _receive_exact(connection: socket.socket, size: int) -> Optional[bytes]:
    data = b""
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def listen_at(path: str) -> Any:
    """A listening socket at `path`, in a folder private to this user; on
    Windows a server of the named pipe `path`."""
    if sys.platform == "win32":
        from windows_tools import PipeListener

        return PipeListener(path)
    folder = os.path.dirname(path)
    os.makedirs(folder, mode=0o700, exist_ok=True)
    if os.path.exists(path):
        os.unlink(path)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(8)
    return listener


class _Script:
    """The queued actions and the recorded requests, shared by the thread
    that serves the socket and the one that reads commands."""

    def __init__(self) -> None:
        self.condition = threading.Condition()
        self.actions: Deque[Dict[str, Any]] = collections.deque()
        self.requests: List[bytes] = []
        self.receiving = False
        self.connected = False

    def next_action(self) -> Optional[Dict[str, Any]]:
        deadline = time.monotonic() + REPLY_WAIT_SECONDS
        with self.condition:
            while not self.actions:
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.condition.wait(left)
            return self.actions.popleft()


def _serve_connection(connection: socket.socket, script: _Script) -> None:
    while True:
        header = _receive_exact(connection, 4)
        if header is None:
            return
        with script.condition:
            script.receiving = True
        body = _receive_exact(connection, struct.unpack("<I", header)[0])
        with script.condition:
            script.requests.append(header + (body or b""))
            script.receiving = False
            script.condition.notify_all()
        if body is None:
            return
        action = script.next_action()
        while action is not None and action["op"] == "delay":
            time.sleep(action["seconds"])
            action = script.next_action()
        if action is None or action["op"] == "close":
            return
        try:
            connection.sendall(bytes.fromhex(action["data"]))
        except OSError:
            return
        if action["op"] == "reply_then_close":
            return


def _serve(listener: socket.socket, script: _Script) -> None:
    while True:
        try:
            connection, _ = listener.accept()
        except OSError:
            return
        with script.condition:
            script.connected = True
        with connection:
            _serve_connection(connection, script)
        with script.condition:
            script.connected = False
            script.condition.notify_all()


def peer_main(path: str) -> None:
    listener = listen_at(path)
    script = _Script()
    threading.Thread(target=_serve, args=(listener, script), daemon=True).start()
    print("ready", flush=True)
    for line in sys.stdin:
        command = json.loads(line)
        op = command["op"]
        answer = "ok"
        with script.condition:
            if op == "requests":
                deadline = time.monotonic() + 1.0
                while script.receiving and time.monotonic() < deadline:
                    script.condition.wait(0.05)
                answer = json.dumps([item.hex() for item in script.requests])
            elif op == "clear":
                script.requests.clear()
            elif op == "wait_closed":
                deadline = time.monotonic() + 5.0
                while script.connected and time.monotonic() < deadline:
                    script.condition.wait(0.05)
            elif op == "stop":
                break
            else:
                script.actions.append(command)
                script.condition.notify_all()
        print(answer, flush=True)
    listener.close()
    if sys.platform != "win32" and os.path.exists(path):
        os.unlink(path)
    print("ok", flush=True)


# ---- A stand-in terminal program ----


def write_stand_in(folder: Path) -> str:
    """Writes a stand-in terminal executable into `folder`: it records how it
    was started, then answers as a ready terminal (see launched_main)."""
    folder.mkdir(parents=True, exist_ok=True)
    if sys.platform == "win32":
        return _write_windows_stand_in(folder)
    program = folder / "terminal64"
    program.write_text(
        f"#!{sys.executable}\n"
        "import sys\n"
        f"sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})\n"
        "import fake_peer\n"
        "fake_peer.launched_main()\n"
    )
    program.chmod(0o755)
    return str(program)


def _write_windows_stand_in(folder: Path) -> str:
    """A Windows program is an executable file: the stand-in is a copy of a
    small program (tests/windows/stand_in.cpp) that runs this file with the
    Python named beside it, telling it its own path and command line."""
    program = os.environ.get("QUILLMARK_STAND_IN")
    if not program:
        import pytest

        pytest.skip("QUILLMARK_STAND_IN names no stand-in terminal program")
    target = folder / "terminal64.exe"
    shutil.copy(program, target)
    (folder / "stand_in.txt").write_text(
        f"{sys.executable}\n{os.path.abspath(__file__)}\n", encoding="utf-8")
    return str(target)


def _started_as() -> Tuple[str, Dict[str, Any]]:
    """This program's path, and how it was started."""
    if sys.platform != "win32":
        return sys.argv[0], {
            "argv": sys.argv,
            "pid": os.getpid(),
            "ppid": os.getppid(),
            "sid": os.getsid(0),
            "fds": [os.readlink(f"/proc/self/fd/{fd}") for fd in range(3)],
            "signals": {
                key: int(value, 16)
                for key, value in (
                    line.split(":\t") for line in Path("/proc/self/status").read_text().splitlines()
                )
                if key in ("SigBlk", "SigIgn")
            },
        }
    import ctypes

    # The stand-in passes on its own path and command line.
    me = os.environ["QUILLMARK_STAND_IN_PATH"]
    line = os.environ["QUILLMARK_STAND_IN_COMMAND_LINE"]
    split = ctypes.windll.shell32.CommandLineToArgvW
    split.restype = ctypes.POINTER(ctypes.c_wchar_p)
    count = ctypes.c_int()
    words = split(ctypes.c_wchar_p(line), ctypes.byref(count))
    argv = [words[i] for i in range(count.value)]
    ctypes.windll.kernel32.LocalFree(words)
    return me, {"argv": argv, "command_line": line,
                "std_handles": os.environ["QUILLMARK_STAND_IN_HANDLES"]}


def launched_main(build: int = 4000, idle_seconds: float = 20.0) -> None:
    """Records how this program was started in "launched.json" beside it,
    then answers one connection as a ready terminal of `build`."""
    me, record = _started_as()
    Path(me).with_name("launched.json").write_text(json.dumps(record))
    path = wire.socket_path(me)
    listener = listen_at(path)
    listener.settimeout(idle_seconds)
    try:
        connection, _ = listener.accept()
    except OSError:
        connection = None
    if connection is not None:
        with connection:
            answer_as_terminal(connection, build)
    listener.close()
    if sys.platform != "win32" and os.path.exists(path):
        os.unlink(path)


def answer_as_terminal(connection: Any, build: int) -> None:
    connection.settimeout(20.0)
    while True:
        try:
            header = _receive_exact(connection, 4)
            body = _receive_exact(connection, struct.unpack("<I", header)[0]) if header else None
        except OSError:
            return
        if body is None:
            return
        command = struct.unpack("<I", body[:4])[0]
        if command == 4:
            connection.sendall(wire.reply(4, 1, wire.u32(build)))
        elif command == 109:
            connection.sendall(wire.reply(109, 1, wire.u32(2)))
        else:
            connection.sendall(wire.reply(command, -7))


if __name__ == "__main__":
    if sys.argv[1:] == ["--launched"]:
        launched_main()
    else:
        peer_main(sys.argv[1])
