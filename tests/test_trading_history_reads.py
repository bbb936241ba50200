"""History reads that the database cannot answer: the client sees a failure,
never a success with part of the history."""

from __future__ import annotations

import sqlite3
import time
from pathlib import Path
from typing import Any, Callable, Iterator, Tuple

import pytest

import quillmark as mt
from terminal_tools import TerminalHome, make_home, set_price


@pytest.fixture
def traded(tmp_path: Path) -> Iterator[Tuple[TerminalHome, Any]]:
    """A terminal whose account holds one deal, the result of that deal."""
    home = make_home(tmp_path)
    home.start("--test-controls")
    assert mt.initialize(path=home.exe), mt.last_error()
    try:
        assert set_price(home, "EURUSD", 1.10000, 1.10020) == 0
        result = mt.order_send(action=mt.TRADE_ACTION_DEAL, symbol="EURUSD", volume=0.1,
                               type=mt.ORDER_TYPE_BUY, type_filling=mt.ORDER_FILLING_IOC)
        assert result is not None and result.retcode == mt.TRADE_RETCODE_DONE, mt.last_error()
        yield home, result
    finally:
        mt.shutdown()
        home.stop_all()


def database(home: TerminalHome) -> Path:
    found = list(home.data_home.rglob("accounts.dat"))
    assert len(found) == 1, found
    return found[0]


def rename_tables(path: Path, suffix_from: str, suffix_to: str) -> None:
    """Renames the history tables behind the terminal's back, through a
    connection of this process: the terminal's next read of them fails."""
    db = sqlite3.connect(str(path), timeout=10)
    try:
        for table in ("orders", "deals"):
            db.execute(f"ALTER TABLE {table}{suffix_from} RENAME TO {table}{suffix_to}")
        db.commit()
    finally:
        db.close()


FAR = (0, int(time.time()) + 86400)

READS: Tuple[Tuple[str, Callable[[Any], Any]], ...] = (
    ("orders total", lambda r: mt.history_orders_total(*FAR)),
    ("orders in a range", lambda r: mt.history_orders_get(*FAR)),
    ("orders of a position", lambda r: mt.history_orders_get(position=r.order)),
    ("order by ticket", lambda r: mt.history_orders_get(ticket=r.order)),
    ("deals total", lambda r: mt.history_deals_total(*FAR)),
    ("deals in a range", lambda r: mt.history_deals_get(*FAR)),
    ("deals of a position", lambda r: mt.history_deals_get(position=r.order)),
    ("deal by ticket", lambda r: mt.history_deals_get(ticket=r.deal)),
)


@pytest.mark.parametrize("read", [r for _, r in READS], ids=[n for n, _ in READS])
def test_failed_history_read_is_a_failure(traded: Tuple[TerminalHome, Any],
                                          read: Callable[[Any], Any]) -> None:
    home, result = traded
    healthy = read(result)
    assert healthy, mt.last_error()

    rename_tables(database(home), "", "_away")
    try:
        assert read(result) is None
        assert mt.last_error()[0] == -1  # the generic failure
    finally:
        rename_tables(database(home), "_away", "")

    # The failure leaves nothing behind: the same read answers as before.
    assert read(result) == healthy
