"""Starting a terminal on Windows: the stand-in terminal (a real program that
the module starts with CreateProcessW) reports how it was started."""

from __future__ import annotations

import json
import sys
import time
from pathlib import Path
from typing import Any, Dict

import pytest

import quillmark
from fake_peer import write_stand_in

pytestmark = pytest.mark.skipif(sys.platform != "win32", reason="Windows process start")


def started(install: Path, seconds: float = 10.0) -> Dict[str, Any]:
    record = install / "launched.json"
    deadline = time.monotonic() + seconds
    while not record.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    return json.loads(record.read_text())


@pytest.mark.parametrize("portable", [False, True], ids=["plain", "portable"])
def test_terminal_is_started_with_its_command_line(tmp_path: Path, portable: bool) -> None:
    program = write_stand_in(tmp_path / "install")
    try:
        assert quillmark.initialize(path=program, portable=portable) is True, quillmark.last_error()
    finally:
        quillmark.shutdown()

    launched = started(tmp_path / "install")
    # No command line at all means the program's own name; with the switch,
    # the quoted path and " /portable".
    if portable:
        assert launched["command_line"] == f'"{program}" /portable'
        assert launched["argv"] == [program, "/portable"]
    else:
        assert launched["argv"] == [program]
    # Started with no standard handles: nothing of the caller's leaks in.
    assert launched["std_handles"] == "none"

