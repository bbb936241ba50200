"""The bundled terminal program: where it is installed, and starting and
stopping it for ``python -m quillmark terminal``."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import time
from typing import List, Optional

from . import _core

if sys.platform == "win32":
    from . import _windows

__all__ = ["terminal_path"]


def terminal_path() -> str:
    """Return the full path of the bundled terminal program.

    Pass it to ``initialize(path=...)`` to start (or reach) the terminal that
    ships with this package; after its first start ``initialize()`` finds it
    by itself.
    """
    name = "terminal64.exe" if sys.platform == "win32" else "terminal64"
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "bin", name)


def terminal_pids(path: str) -> List[int]:
    """Processes running the terminal at `path`."""
    if sys.platform == "win32":
        return _windows.terminal_pids(path)
    real = os.path.realpath(path)
    pids: List[int] = []
    if os.path.isdir("/proc"):
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    if os.readlink(f"/proc/{entry}/exe") == real:
                        pids.append(int(entry))
                except OSError:
                    continue
        return pids
    listing = subprocess.run(["ps", "-ax", "-o", "pid=,comm="], capture_output=True, text=True)
    for line in listing.stdout.splitlines():
        pid, _, command = line.strip().partition(" ")
        if os.path.realpath(command.strip()) == real:
            pids.append(int(pid))
    return pids


def stop_terminal(path: str, timeout: float = 5.0) -> bool:
    """Ask the terminal at `path` to stop and wait until it has."""
    if sys.platform == "win32":
        return _windows.stop_terminal(path, timeout)
    for pid in terminal_pids(path):
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + timeout
    while terminal_pids(path):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def run_terminal_command(path: Optional[str] = None, stop: bool = False) -> int:
    """Start the terminal in the user's own data folder and leave it running,
    so that ``initialize()`` without a path finds it; or stop it."""
    path = path or terminal_path()
    if stop:
        if not terminal_pids(path):
            print(f"The terminal {path} is not running.")
            return 0
        if not stop_terminal(path):
            print(f"The terminal {path} did not stop in time.")
            return 1
        print(f"The terminal {path} stopped.")
        return 0
    was_running = bool(terminal_pids(path))
    # initialize starts the terminal in its own session with this process's
    # environment, so it keeps running after the link is closed.
    if not _core.initialize(path=path):
        print(f"The terminal {path} could not be started: {_core.last_error()}")
        return 1
    info = _core.terminal_info()
    _core.shutdown()
    print(f"The terminal {path} {'was already running' if was_running else 'runs'}.")
    if info is not None:
        print(f"  data folder {info.data_path}")
    print("Scripts now reach it with initialize(), or initialize(login=10001, "
          "password='demo', server='Quillmark-Demo').")
    print("Stop it with: python -m quillmark terminal --stop")
    return 0
