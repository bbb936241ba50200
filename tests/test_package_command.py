"""``python -m quillmark terminal`` makes a terminal discoverable by
``initialize()`` with no path, and ``--stop`` ends it."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import quillmark
from terminal_tools import TerminalHome


def command(home: TerminalHome, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "quillmark", "terminal", "--path", home.exe,
                           *args], capture_output=True, text=True, timeout=60, env=home.env())


def test_started_terminal_is_found_without_a_path(home: TerminalHome) -> None:
    assert not quillmark.initialize(timeout=2000)  # nothing to find on a fresh machine
    started = command(home)
    assert started.returncode == 0, started.stdout + started.stderr
    assert "terminal --stop" in started.stdout
    pids = home.running_pids()
    assert len(pids) == 1  # it outlived the command

    assert quillmark.initialize(login=10002, password="demo", server="Quillmark-Demo"), \
        quillmark.last_error()
    info = quillmark.terminal_info()
    assert Path(info.path) == Path(home.install)
    assert str(home.data_home) in info.data_path
    assert quillmark.account_info().login == 10002
    quillmark.shutdown()

    again = command(home)
    assert again.returncode == 0 and "already running" in again.stdout
    assert home.running_pids() == pids


def test_stop_ends_the_terminal_and_is_quiet_when_none_runs(home: TerminalHome) -> None:
    assert command(home).returncode == 0
    stopped = command(home, "--stop")
    assert stopped.returncode == 0, stopped.stdout + stopped.stderr
    assert home.running_pids() == []
    idle = command(home, "--stop")
    assert idle.returncode == 0 and "not running" in idle.stdout
    # Once it has run from the data folder, initialize() starts it again.
    assert quillmark.initialize(), quillmark.last_error()
    assert len(home.running_pids()) == 1


def test_a_terminal_that_cannot_start_fails_the_command(tmp_path: Path) -> None:
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path))
    result = subprocess.run([sys.executable, "-m", "quillmark", "terminal", "--path",
                             str(tmp_path / "missing" / "terminal64")],
                            capture_output=True, text=True, timeout=60, env=env)
    assert result.returncode == 1 and "could not be started" in result.stdout
