"""A private copy of the installed terminal for the benchmarks: its own
executable (so its own pipe) and its own data home, never the user's.

    with private_terminal("load") as terminal:
        mt.initialize(path=terminal.exe)
"""

from __future__ import annotations

import contextlib
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Iterator, Sequence

import quillmark as mt
from pure_python_client import socket_path_for


class Terminal:
    """A private copy of the installed terminal, started with options."""

    def __init__(self, root: Path, name: str, data_home: Path, options: Sequence[str]) -> None:
        folder = root / name
        folder.mkdir()
        self.exe = str(folder / "terminal64")
        shutil.copy2(mt.terminal_path(), self.exe)
        env = dict(os.environ, XDG_DATA_HOME=str(data_home))
        self.process = subprocess.Popen(
            [self.exe, *options],
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            start_new_session=True,
        )
        self.socket_path = socket_path_for(self.exe)

    def wait(self, timeout: float = 120.0) -> None:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                error = self.process.stderr.read().decode() if self.process.stderr else ""
                raise RuntimeError(f"terminal exited with {self.process.returncode}: {error}")
            try:
                with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
                    probe.connect(self.socket_path)
                    return
            except OSError:
                time.sleep(0.05)
        raise TimeoutError(f"no terminal socket at {self.socket_path}")

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process.stderr:
            self.process.stderr.close()


@contextlib.contextmanager
def private_terminal(name: str, options: Sequence[str] = ()) -> Iterator[Terminal]:
    """One terminal in a temporary folder of its own, ready for clients, and
    stopped and removed on leaving."""
    with tempfile.TemporaryDirectory(prefix=f"quillmark-{name}-") as folder:
        root = Path(folder)
        data_home = root / "data"
        data_home.mkdir()
        terminal = Terminal(root, name, data_home, options)
        try:
            terminal.wait()
            yield terminal
        finally:
            terminal.stop()
