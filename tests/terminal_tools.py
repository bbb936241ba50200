"""Tools for tests that run the bundled terminal program.

Each test gets its own installation (a copy of the installed ``terminal64``
in a temporary folder, so its pipe name is its own) and its own per-user data
home (``XDG_DATA_HOME``, on Windows ``%APPDATA%``), so tests never touch the
user's data and never meet each other's terminals.

Test-only price control: a terminal started with ``--test-controls`` accepts
command 60001 with the payload ``counted string symbol, f64 bid, f64 ask``
and forces the symbol's prices from that moment on; ``bid = ask = 0`` hands
the symbol back to its simulated market. It answers status 0, -4 for an
unknown symbol and -2 for unusable prices. :func:`set_price` sends it.

Test-only swap clock: command 60002 with the payload ``i64 milliseconds since
1970`` charges the swaps of every midnight up to that time that has not been
charged yet, and answers the u32 count of midnights passed.
:func:`run_rollovers` sends it.
"""

from __future__ import annotations

import contextlib
import os
import shutil
import socket
import struct
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Iterator, List, Optional, Tuple

import pytest

import quillmark
import wire

if sys.platform == "win32":
    import windows_tools
    from windows_tools import stop_terminal, terminal_pids
else:
    from quillmark.terminal import stop_terminal, terminal_pids

# How long a raw client waits for the terminal: a hang shows as a timeout.
# Wine's pipes, on a machine that others share, answer far more slowly.
CLIENT_TIMEOUT = 30.0 if sys.platform == "win32" else 10.0

# Where the per-user data folders of terminals live.
DATA_HOME = "APPDATA" if sys.platform == "win32" else "XDG_DATA_HOME"

CMD_TEST_SET_PRICE = 60001
CMD_TEST_ROLLOVER = 60002


@dataclass
class TerminalHome:
    """A private installation of the terminal and its data home."""

    install: Path
    data_home: Path
    exe: str
    processes: List[subprocess.Popen] = field(default_factory=list)

    @property
    def socket_path(self) -> str:
        return wire.socket_path(self.exe)

    def env(self) -> dict:
        env = dict(os.environ)
        env[DATA_HOME] = str(self.data_home)
        return env

    def start(self, *options: str, portable: bool = False, wait: bool = True) -> subprocess.Popen:
        """Start the terminal directly, with command-line options."""
        argv = [self.exe] + (["/portable"] if portable else []) + list(options)
        process = subprocess.Popen(
            argv,
            env=self.env(),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            start_new_session=True,
        )
        self.processes.append(process)
        if wait:
            wait_for_socket(self.socket_path, process)
        return process

    def running_pids(self) -> List[int]:
        """Processes running this installation's executable, however started."""
        return terminal_pids(self.exe)

    def stop_all(self) -> None:
        stop_terminal(self.exe)
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
            if process.stderr:
                process.stderr.close()


def use_data_home(monkeypatch: pytest.MonkeyPatch, folder: str) -> None:
    """Makes `folder` the data home of the module and of the terminals that
    this process starts. On Windows they find it as the roaming folder only
    where that follows %APPDATA% (as the test setup of tests/windows has it);
    elsewhere the tests that need it are skipped, as they would otherwise
    use the user's own folder."""
    monkeypatch.setenv(DATA_HOME, folder)
    os.makedirs(folder, exist_ok=True)
    if sys.platform == "win32" and windows_tools.roaming_folder() != folder:
        pytest.skip("the roaming folder does not follow %APPDATA% here")


def make_home(tmp_path: Path) -> TerminalHome:
    install = tmp_path / "Quillmark Terminal"
    install.mkdir()
    exe = install / os.path.basename(quillmark.terminal_path())
    shutil.copy2(quillmark.terminal_path(), exe)
    data_home = tmp_path / "data"
    data_home.mkdir()
    return TerminalHome(install=install, data_home=data_home, exe=str(exe))


@contextlib.contextmanager
def connected_terminal(tmp_path: Path, *options: str) -> Iterator[TerminalHome]:
    """A private terminal started with `options`, the module connected to it."""
    home = make_home(tmp_path)
    with pytest.MonkeyPatch.context() as patch:
        # The module discovers terminals under the caller's data home.
        use_data_home(patch, str(home.data_home))
        home.start(*options)
        assert quillmark.initialize(path=home.exe), quillmark.last_error()
        try:
            yield home
        finally:
            quillmark.shutdown()
            home.stop_all()


def socket_served(path: str) -> bool:
    """Whether a terminal serves the socket, or on Windows the pipe, `path`."""
    if sys.platform == "win32":
        return windows_tools.pipe_exists(path)
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            probe.connect(path)
            return True
    except OSError:
        return False


def wait_for_socket(path: str, process: Optional[subprocess.Popen] = None,
                    timeout: float = 10.0) -> None:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if socket_served(path):
            return
        if process is not None and process.poll() is not None:
            err = process.stderr.read().decode() if process.stderr else ""
            raise RuntimeError(f"terminal exited with {process.returncode}: {err}")
        time.sleep(0.02)
    raise TimeoutError(f"no terminal socket at {path}")


def connect_to(path: str) -> Any:
    """A client connection to the terminal's socket, or on Windows its pipe."""
    if sys.platform == "win32":
        return windows_tools.connect(path)
    connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    connection.connect(path)
    return connection


class RawClient:
    """Speaks the wire protocol directly over the terminal's socket."""

    def __init__(self, path: str) -> None:
        self.sock = connect_to(path)
        self.sock.settimeout(CLIENT_TIMEOUT)

    @classmethod
    def over(cls, sock: socket.socket) -> "RawClient":
        """A client on a socket already connected."""
        client = cls.__new__(cls)
        client.sock = sock
        return client

    def close(self) -> None:
        self.sock.close()

    def __enter__(self) -> "RawClient":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def send_raw(self, data: bytes) -> None:
        self.sock.sendall(data)

    def request(self, command: int, payload: bytes = b"") -> None:
        self.sock.sendall(wire.request(command, payload))

    def _exactly(self, size: int) -> bytes:
        data = bytearray()
        while len(data) < size:
            chunk = self.sock.recv(size - len(data))
            if not chunk:
                raise ConnectionError("terminal closed the connection")
            data += chunk
        return bytes(data)

    def reply(self) -> Tuple[int, int, bytes]:
        """(echoed command, status, payload) of the next reply."""
        (length,) = struct.unpack("<I", self._exactly(4))
        body = self._exactly(length)
        command, status = struct.unpack("<Ii", body[:8])
        return command, status, body[8:]

    def call(self, command: int, payload: bytes = b"") -> Tuple[int, bytes]:
        self.request(command, payload)
        echoed, status, body = self.reply()
        assert echoed == command
        return status, body


def set_price(home: TerminalHome, symbol: str, bid: float, ask: float) -> int:
    """Force a symbol's prices (terminal started with --test-controls)."""
    with RawClient(home.socket_path) as client:
        status, _ = client.call(CMD_TEST_SET_PRICE, wire.text(symbol) + struct.pack("<dd", bid, ask))
    return status


def run_rollovers(home: TerminalHome, until: float) -> int:
    """Charge the swaps of every midnight up to `until` (seconds since 1970)."""
    with RawClient(home.socket_path) as client:
        status, body = client.call(CMD_TEST_ROLLOVER, struct.pack("<q", int(until * 1000)))
    assert status == 0
    (passed,) = struct.unpack("<I", body)
    return passed
