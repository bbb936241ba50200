"""The link dies in the middle of large replies: the relay in front of the
real terminal drops it after a random number of bytes, or the terminal is
killed while it answers. Every call must come back with a status, nothing may
hang or crash, a dead link must be closed, and a new initialize must work.

The runs happen in a driver process of their own (fault_driver.py), so that a
hang shows up as a timeout of the driver."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path
from typing import Any, Dict, List

import pytest

from conftest import SANITIZED
from terminal_tools import TerminalHome

pytestmark = pytest.mark.skipif(
    sys.platform == "win32", reason="the driver cuts a socket relay and kills with fork and SIGKILL")

DRIVER = Path(__file__).with_name("fault_driver.py")
CUT_RUNS = int(os.environ.get("QUILLMARK_FAULT_RUNS", "50" if SANITIZED else "240"))
KILL_RUNS = int(os.environ.get("QUILLMARK_KILL_RUNS", "5" if SANITIZED else "20"))
LINK_ERRORS = {-10001, -10002}
NO_LINK = -10004


def drive(*arguments: str, timeout: float) -> List[Dict[str, Any]]:
    done = subprocess.run(
        [sys.executable, str(DRIVER), *arguments],
        capture_output=True,
        text=True,
        timeout=timeout,
        env=os.environ.copy(),
    )
    assert done.returncode == 0, done.stderr[-3000:]
    return [json.loads(line) for line in done.stdout.splitlines()]


def test_link_cut_at_random_bytes_of_large_replies(terminal: TerminalHome, tmp_path: Path) -> None:
    outcomes = drive("cut", terminal.socket_path, str(tmp_path / "relay"), str(CUT_RUNS), "7",
                     timeout=60 + 2 * CUT_RUNS)
    assert len(outcomes) == CUT_RUNS
    inside_reply = 0
    for outcome in outcomes:
        assert outcome["recovered"], outcome
        assert outcome["seconds"] < 10, outcome
        if not outcome["initialize"]:
            # Cut within the handshake or the readiness poll.
            assert outcome["after"] <= outcome["opening"], outcome
            assert outcome["initialize_code"] in LINK_ERRORS, outcome
            continue
        # Every cut falls before the end of the call's reply.
        assert outcome["returned_none"] and outcome["code"] in LINK_ERRORS, outcome
        assert outcome["after_code"] == NO_LINK, outcome
        inside_reply += outcome["after"] > outcome["opening"]
    assert inside_reply >= CUT_RUNS * 3 // 4


def test_terminal_killed_while_answering(terminal: TerminalHome) -> None:
    # The driver's initialize starts the terminal again after each kill.
    terminal.stop_all()
    outcomes = drive("kill", terminal.exe, str(KILL_RUNS), "11", timeout=120 + 20 * KILL_RUNS)
    assert len(outcomes) == KILL_RUNS
    killed_inside = 0
    for outcome in outcomes:
        assert outcome["recovered"], outcome
        assert outcome["seconds"] < 10, outcome
        if outcome["ok"]:
            continue
        assert outcome["returned_none"] and outcome["code"] in LINK_ERRORS, outcome
        assert outcome["after_code"] == NO_LINK, outcome
        killed_inside += 1
    assert killed_inside >= KILL_RUNS // 3
