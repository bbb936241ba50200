"""Open positions as the bundled terminal lists them, while they are opened
and closed in every order and after a restart: always every open position,
once, in ticket order."""

from __future__ import annotations

from pathlib import Path
from typing import Dict, Iterator, List

import pytest

import quillmark as mt
from terminal_tools import TerminalHome, make_home, set_price

PRICES = {"EURUSD": (1.10000, 1.10020), "GBPUSD": (1.25000, 1.25020)}


def start(home: TerminalHome) -> None:
    home.start("--test-controls")
    assert mt.initialize(path=home.exe), mt.last_error()
    for symbol, (bid, ask) in PRICES.items():
        assert set_price(home, symbol, bid, ask) == 0


@pytest.fixture
def home(tmp_path: Path) -> Iterator[TerminalHome]:
    terminal = make_home(tmp_path)
    start(terminal)
    try:
        yield terminal
    finally:
        mt.shutdown()
        terminal.stop_all()


def trade(symbol: str, order_type: int, position: int = 0) -> int:
    request = {"action": mt.TRADE_ACTION_DEAL, "symbol": symbol, "type": order_type,
               "volume": 0.1, "deviation": 10, "type_filling": mt.ORDER_FILLING_IOC}
    if position:
        request["position"] = position
    result = mt.order_send(request)
    assert result is not None and result.retcode == mt.TRADE_RETCODE_DONE, mt.last_error()
    return result.order


def check_listed(held: Dict[int, str]) -> None:
    tickets: List[int] = sorted(held)
    assert [p.ticket for p in mt.positions_get()] == tickets
    assert mt.positions_total() == len(tickets)
    for symbol in PRICES:
        listed = mt.positions_get(symbol=symbol)
        assert [p.ticket for p in listed] == [t for t in tickets if held[t] == symbol]
        assert all(p.symbol == symbol for p in listed)


def test_positions_listed_through_opens_closes_and_restart(home: TerminalHome) -> None:
    held: Dict[int, str] = {}
    for symbol in ("EURUSD", "GBPUSD", "EURUSD", "GBPUSD"):
        held[trade(symbol, mt.ORDER_TYPE_BUY)] = symbol
        check_listed(held)
    first, second, third, _ = sorted(held)
    # A close and an open between two lists leave the count as it was.
    trade("GBPUSD", mt.ORDER_TYPE_SELL, position=second)
    del held[second]
    held[trade("EURUSD", mt.ORDER_TYPE_SELL)] = "EURUSD"
    check_listed(held)
    # A refused close changes nothing.
    refused = mt.order_send({"action": mt.TRADE_ACTION_DEAL, "symbol": "EURUSD",
                             "type": mt.ORDER_TYPE_SELL, "volume": 0.1, "position": second,
                             "type_filling": mt.ORDER_FILLING_IOC})
    assert refused is not None and refused.retcode != mt.TRADE_RETCODE_DONE
    check_listed(held)
    for ticket in (first, third):
        trade("EURUSD", mt.ORDER_TYPE_SELL, position=ticket)
        del held[ticket]
        check_listed(held)

    mt.shutdown()
    home.stop_all()
    start(home)
    check_listed(held)
