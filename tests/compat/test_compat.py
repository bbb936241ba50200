"""Scripts written the way users write them for this API, each run unchanged
as a program of its own against a private copy of the bundled terminal.

The terminal is made discoverable the way the README tells users to:
``python -m quillmark terminal`` in the scripts' data folder, after which
the scripts call ``initialize()`` with their login alone."""

from __future__ import annotations

import subprocess
import sys
import time
from pathlib import Path
from typing import Iterator

import pytest

from terminal_tools import TerminalHome, make_home

SCRIPTS = Path(__file__).resolve().parent / "scripts"
# Trading scripts first, so that the history report has deals to add up.
ORDER = [
    "connect_and_versions.py",
    "symbols_by_group.py",
    "bars_and_ticks_to_pandas.py",
    "market_buy_then_close.py",
    "pending_orders.py",
    "change_stops.py",
    "margin_and_profit.py",
    "market_book_loop.py",
    "retry_on_return_codes.py",
    "buy_sell_close_loop.py",
    "moving_average_bot.py",
    "history_report.py",
]
LATER = sorted(p.name for p in SCRIPTS.glob("*.py") if p.name not in ORDER)


@pytest.fixture(scope="module")
def terminal(tmp_path_factory: pytest.TempPathFactory) -> Iterator[TerminalHome]:
    home = make_home(tmp_path_factory.mktemp("compat"))
    started = subprocess.run([sys.executable, "-m", "quillmark", "terminal", "--path", home.exe],
                             capture_output=True, text=True, timeout=60, env=home.env())
    assert started.returncode == 0, started.stdout + started.stderr
    try:
        yield home
    finally:
        home.stop_all()


def test_every_script_is_run() -> None:
    assert set(ORDER) <= {p.name for p in SCRIPTS.glob("*.py")}


@pytest.mark.parametrize("script", ORDER + LATER)
def test_script_runs_to_the_end(terminal: TerminalHome, script: str) -> None:
    began = time.monotonic()
    result = subprocess.run([sys.executable, str(SCRIPTS / script)], capture_output=True,
                            text=True, timeout=120, env=terminal.env(), cwd=terminal.install)
    output = f"--- stdout\n{result.stdout}\n--- stderr\n{result.stderr}"
    assert result.returncode == 0, output
    assert "Traceback" not in result.stderr, output
    print(f"{script}: {time.monotonic() - began:.1f} s")
