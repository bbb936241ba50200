"""Swaps and commissions on the bundled terminal: what the demo account pays
on each deal, what each midnight charges the open positions, and that the
deals of the account's history add up to its balance, as account reports
built from them expect."""

from __future__ import annotations

import datetime
import struct
import time
from pathlib import Path
from typing import Dict, Iterator

import pytest

import quillmark as mt
import wire
from terminal_tools import (CMD_TEST_ROLLOVER, CMD_TEST_SET_PRICE, RawClient, TerminalHome,
                            make_home, run_rollovers, set_price)

DAY = 86400
PRICES = {"EURUSD": (1.10000, 1.10020), "BTCUSD": (43000.00, 43015.00)}


def force_prices(home: TerminalHome) -> None:
    for symbol, (bid, ask) in PRICES.items():
        assert set_price(home, symbol, bid, ask) == 0


@pytest.fixture
def terminal(tmp_path: Path) -> Iterator[TerminalHome]:
    home = make_home(tmp_path)
    home.start("--test-controls")
    assert mt.initialize(path=home.exe), mt.last_error()
    force_prices(home)
    try:
        yield home
    finally:
        mt.shutdown()
        home.stop_all()


def trade(symbol: str, order_type: int, volume: float, position: int = 0) -> mt.OrderSendResult:
    result = mt.order_send(action=mt.TRADE_ACTION_DEAL, symbol=symbol, type=order_type,
                           volume=volume, position=position, type_filling=mt.ORDER_FILLING_IOC)
    assert result is not None and result.retcode == mt.TRADE_RETCODE_DONE, result
    return result


def days_charged(day: int, triple_weekday: int) -> int:
    """Days of swap charged by the midnight that ends `day` (days since 1970)."""
    weekday = datetime.datetime.fromtimestamp(day * DAY, datetime.timezone.utc).isoweekday() % 7
    if weekday == triple_weekday:
        return 3
    return 0 if weekday in (0, 6) else 1


def daily_swaps(positions: Dict[int, mt.TradePosition]) -> Dict[int, float]:
    """One day of each position's swap in USD, from its symbol's settings."""
    daily = {}
    for ticket, p in positions.items():
        info = mt.symbol_info(p.symbol)
        rate = info.swap_long if p.type == mt.POSITION_TYPE_BUY else info.swap_short
        if info.swap_mode == mt.SYMBOL_SWAP_MODE_POINTS:
            daily[ticket] = rate * info.point * info.trade_contract_size * p.volume
        else:
            assert info.swap_mode == mt.SYMBOL_SWAP_MODE_INTEREST_CURRENT
            value = p.price_current * info.trade_contract_size * p.volume
            daily[ticket] = value * rate / 100 / 360
    return daily


def held() -> Dict[int, mt.TradePosition]:
    return {p.ticket: p for p in mt.positions_get()}


def test_commission_is_paid_on_each_deal_of_a_currency_pair(terminal: TerminalHome) -> None:
    check = mt.order_check(action=mt.TRADE_ACTION_DEAL, symbol="EURUSD", type=mt.ORDER_TYPE_BUY,
                           volume=2.0, type_filling=mt.ORDER_FILLING_IOC)
    assert check.retcode == 0 and check.balance == pytest.approx(10000 - 7.0)
    buy = trade("EURUSD", mt.ORDER_TYPE_BUY, 1.0)
    sell = trade("EURUSD", mt.ORDER_TYPE_SELL, 0.5)
    coin = trade("BTCUSD", mt.ORDER_TYPE_BUY, 0.1)
    commissions = [mt.history_deals_get(ticket=r.deal)[0].commission for r in (buy, sell, coin)]
    assert commissions == [-3.5, -1.75, 0.0]
    info = mt.account_info()
    assert info.balance == pytest.approx(10000 - 5.25)
    assert info.equity == pytest.approx(info.balance + sum(p.profit for p in mt.positions_get()))


def test_swaps_accrue_at_each_midnight_and_survive_a_restart(terminal: TerminalHome) -> None:
    assert mt.symbol_info("EURUSD").swap_mode == mt.SYMBOL_SWAP_MODE_POINTS
    assert mt.symbol_info("BTCUSD").swap_mode == mt.SYMBOL_SWAP_MODE_INTEREST_CURRENT
    trade("EURUSD", mt.ORDER_TYPE_BUY, 1.0)
    trade("EURUSD", mt.ORDER_TYPE_SELL, 0.5)
    trade("BTCUSD", mt.ORDER_TYPE_BUY, 0.1)
    positions = held()
    daily = daily_swaps(positions)
    assert daily and all(amount != 0 for amount in daily.values())
    triple = {t: mt.symbol_info(p.symbol).swap_rollover3days for t, p in positions.items()}

    today = int(time.time()) // DAY
    assert run_rollovers(terminal, today * DAY + 1) == 0  # no midnight passed yet
    expected = {ticket: 0.0 for ticket in positions}
    for day in range(today, today + 7):
        assert run_rollovers(terminal, (day + 1) * DAY + 1) == 1
        now = held()
        for ticket in positions:
            expected[ticket] += round(daily[ticket] * days_charged(day, triple[ticket]), 2)
            assert now[ticket].swap == pytest.approx(expected[ticket], abs=1e-6)
    # A week of rollovers charges seven days, whatever the day it starts on.
    for ticket in positions:
        assert expected[ticket] == pytest.approx(7 * daily[ticket], abs=0.03)
    info = mt.account_info()
    floating = sum(p.profit + p.swap for p in held().values())
    assert info.equity == pytest.approx(info.balance + floating, abs=0.011)
    assert info.margin_level == pytest.approx(info.equity / info.margin * 100)

    # The accrued swaps and the day of the last rollover are on disk.
    mt.shutdown()
    terminal.stop_all()
    terminal.start("--test-controls")
    assert mt.initialize(path=terminal.exe), mt.last_error()
    force_prices(terminal)
    assert {t: p.swap for t, p in held().items()} == pytest.approx(expected)
    assert run_rollovers(terminal, (today + 7) * DAY + 1) == 0
    assert {t: p.swap for t, p in held().items()} == pytest.approx(expected)


def test_closing_deals_book_the_swap_and_the_history_adds_up(terminal: TerminalHome) -> None:
    buy = trade("EURUSD", mt.ORDER_TYPE_BUY, 1.0)
    trade("BTCUSD", mt.ORDER_TYPE_BUY, 0.1)
    today = int(time.time()) // DAY
    run_rollovers(terminal, (today + 7) * DAY + 1)  # a week: seven days of swap
    accrued = {t: p.swap for t, p in held().items()}

    partial = trade("EURUSD", mt.ORDER_TYPE_SELL, 0.25, position=buy.order)
    booked = mt.history_deals_get(ticket=partial.deal)[0]
    assert booked.swap == pytest.approx(accrued[buy.order] * 0.25, abs=0.0051)  # in cents
    assert booked.commission == pytest.approx(-0.88)  # 3.5 x 0.25, in cents
    assert held()[buy.order].swap == pytest.approx(accrued[buy.order] - booked.swap)
    for ticket, p in held().items():
        opposite = mt.ORDER_TYPE_SELL if p.type == mt.POSITION_TYPE_BUY else mt.ORDER_TYPE_BUY
        trade(p.symbol, opposite, p.volume, position=ticket)
    assert mt.positions_total() == 0

    deals = mt.history_deals_get(0, 2**31 - 1)
    assert sum(d.swap for d in deals) == pytest.approx(sum(accrued.values()))
    total = sum(d.profit + d.swap + d.commission for d in deals)
    info = mt.account_info()
    assert info.balance == pytest.approx(total) and info.equity == info.balance


@pytest.mark.parametrize(
    "command, payload",
    [(CMD_TEST_SET_PRICE, wire.text("EURUSD") + struct.pack("<dd", 2.0, 2.0002)),
     (CMD_TEST_ROLLOVER, struct.pack("<q", (int(time.time()) // DAY + 30) * DAY * 1000))],
    ids=["price", "rollover"],
)
def test_test_controls_are_refused_unless_enabled(home: TerminalHome, command: int,
                                                  payload: bytes) -> None:
    home.start()
    assert mt.initialize(path=home.exe), mt.last_error()
    coin = trade("BTCUSD", mt.ORDER_TYPE_BUY, 0.1)  # crypto trades at any hour
    with RawClient(home.socket_path) as raw:
        assert raw.call(command, payload)[0] == -7
    assert mt.symbol_info_tick("EURUSD").bid != 2.0
    assert mt.positions_get(ticket=coin.order)[0].swap == 0
