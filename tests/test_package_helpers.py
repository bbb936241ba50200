"""Buy, Sell and Close against the bundled terminal, on the hedging and the
netting demo accounts."""

from __future__ import annotations

from pathlib import Path
from typing import Iterator

import pytest

import quillmark as q
from quillmark.helpers import filling_for
from terminal_tools import TerminalHome, make_home, set_price

PRICES = {"EURUSD": (1.10000, 1.10020), "USDJPY": (150.000, 150.020)}


@pytest.fixture(params=[10001, 10002], ids=["hedging", "netting"])
def account(request: pytest.FixtureRequest, tmp_path: Path) -> Iterator[int]:
    home: TerminalHome = make_home(tmp_path)
    home.start("--test-controls")
    try:
        assert q.initialize(path=home.exe, login=request.param, password="demo",
                            server="Quillmark-Demo"), q.last_error()
        for symbol, (bid, ask) in PRICES.items():
            assert set_price(home, symbol, bid, ask) == 0
        yield request.param
    finally:
        q.shutdown()
        home.stop_all()


@pytest.mark.parametrize("bits, filling", [
    (q.SYMBOL_FILLING_FOK | q.SYMBOL_FILLING_IOC, q.ORDER_FILLING_FOK),
    (q.SYMBOL_FILLING_IOC, q.ORDER_FILLING_IOC),
    (0, q.ORDER_FILLING_RETURN),
])
def test_filling_is_one_the_symbol_allows(bits: int, filling: int) -> None:
    assert filling_for(bits) == filling


def test_buy_and_sell_at_the_market_then_close_the_symbol(account: int) -> None:
    bought = q.Buy("USDJPY", 0.02, comment="bot")
    sold = q.Sell(symbol="EURUSD", volume=0.03)
    assert bought is not None and sold is not None
    assert (bought.retcode, bought.price, bought.volume) == (q.TRADE_RETCODE_DONE, 150.020, 0.02)
    assert (sold.retcode, sold.price) == (q.TRADE_RETCODE_DONE, 1.10000)
    assert bought.request.type_filling == q.ORDER_FILLING_FOK
    assert q.positions_get(symbol="USDJPY")[0].comment == "bot"

    assert q.Close("USDJPY") is True
    assert q.positions_get(symbol="USDJPY") == ()
    assert len(q.positions_get(symbol="EURUSD")) == 1  # another symbol stays open
    assert q.Close("USDJPY") is False  # nothing left to close


def test_close_by_ticket_leaves_the_other_positions(account: int) -> None:
    first = q.Buy("EURUSD", 0.1)
    second = q.Buy("EURUSD", 0.2)
    assert first is not None and second is not None
    positions = q.positions_get(symbol="EURUSD")
    if account == 10002:
        # Netting keeps one position per symbol, so both deals built it.
        assert len(positions) == 1 and positions[0].volume == pytest.approx(0.3)
        assert q.Close("EURUSD", ticket=positions[0].ticket) is True
        assert q.positions_get(symbol="EURUSD") == ()
        return
    assert q.Close(symbol="EURUSD", ticket=first.order) is True
    left = q.positions_get(symbol="EURUSD")
    assert [p.ticket for p in left] == [second.order]
    assert q.Close("USDJPY", ticket=second.order) is False  # ticket of another symbol
    assert q.Close("EURUSD", ticket=999999) is False


def test_a_deal_with_a_ticket_acts_on_that_position(account: int) -> None:
    opened = q.Sell("EURUSD", 0.5)
    assert opened is not None and opened.retcode == q.TRADE_RETCODE_DONE
    partial = q.Buy("EURUSD", 0.2, ticket=opened.order)
    assert partial is not None and partial.retcode == q.TRADE_RETCODE_DONE
    (left,) = q.positions_get(symbol="EURUSD")
    assert left.volume == pytest.approx(0.3) and left.type == q.POSITION_TYPE_SELL
    out = q.history_deals_get(ticket=partial.deal)
    assert out[0].entry == q.DEAL_ENTRY_OUT


@pytest.mark.parametrize("price, retcode", [(1.10020, q.TRADE_RETCODE_DONE),
                                            (1.20000, q.TRADE_RETCODE_REQUOTE)])
def test_a_given_price_is_the_one_asked(account: int, price: float, retcode: int) -> None:
    result = q.Buy("EURUSD", 0.1, price)
    assert result is not None and result.retcode == retcode
    assert result.request.price == price


def test_unknown_symbol_fails_without_sending(account: int) -> None:
    assert q.Buy("NOSUCH", 0.1) is None
    assert q.last_error()[0] < 0
    assert q.Close("NOSUCH") is False
