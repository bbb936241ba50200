"""Trading through the module against the bundled terminal: every action, the
refusals, orders and stops that trigger as prices move, and the account
figures after a sequence of trades, checked by hand."""

from __future__ import annotations

import time
from pathlib import Path
from typing import Any, Callable, Dict, Iterator, Optional

import pytest

import quillmark as mt
from terminal_tools import TerminalHome, make_home, set_price

EURUSD = (1.10000, 1.10020)
GBPUSD = (1.25000, 1.25020)
USDJPY = (150.000, 150.020)


def start_terminal(tmp_path: Path, *options: str) -> TerminalHome:
    home = make_home(tmp_path)
    home.start("--test-controls", *options)
    assert mt.initialize(path=home.exe), mt.last_error()
    for symbol, (bid, ask) in (("EURUSD", EURUSD), ("GBPUSD", GBPUSD), ("USDJPY", USDJPY)):
        assert set_price(home, symbol, bid, ask) == 0
    return home


@pytest.fixture
def terminal(tmp_path: Path) -> Iterator[TerminalHome]:
    home = start_terminal(tmp_path)
    try:
        yield home
    finally:
        mt.shutdown()
        home.stop_all()


def deal(symbol: str, order_type: int, volume: float, **extra: Any) -> Dict[str, Any]:
    request = {
        "action": mt.TRADE_ACTION_DEAL,
        "symbol": symbol,
        "type": order_type,
        "volume": volume,
        "deviation": 10,
        "type_filling": mt.ORDER_FILLING_IOC,
        "magic": 42,
        "comment": "test",
    }
    request.update(extra)
    return request


def send(request: Dict[str, Any]) -> mt.OrderSendResult:
    result = mt.order_send(request)
    assert result is not None, mt.last_error()
    return result


def done(request: Dict[str, Any]) -> mt.OrderSendResult:
    result = send(request)
    assert result.retcode in (mt.TRADE_RETCODE_DONE, mt.TRADE_RETCODE_PLACED), result.comment
    return result


def eventually(condition: Callable[[], bool], timeout: float = 3.0) -> bool:
    """The live engine runs in the terminal's loop: give it a moment."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.02)
    return condition()


def position(ticket: int) -> Optional[mt.TradePosition]:
    found = mt.positions_get(ticket=ticket)
    assert found is not None, mt.last_error()
    return found[0] if found else None


def test_account_figures_follow_a_sequence_of_trades(terminal: TerminalHome) -> None:
    start = mt.account_info()
    assert (start.login, start.balance, start.leverage) == (10001, 10000.0, 100)
    assert start.margin_mode == mt.ACCOUNT_MARGIN_MODE_RETAIL_HEDGING

    buy = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0))
    assert (buy.price, buy.volume, buy.bid, buy.ask) == (1.1002, 1.0, *EURUSD)
    sell = done(deal("USDJPY", mt.ORDER_TYPE_SELL, 0.5))
    assert sell.price == 150.0

    set_price(terminal, "EURUSD", 1.10500, 1.10520)
    set_price(terminal, "USDJPY", 149.000, 149.020)
    eur_profit = 100000 * (1.105 - 1.1002)  # 480.00
    jpy_profit = round(50000 * (150.0 - 149.02) / 149.02, 2)  # JPY at the closing ask
    margin = 1100.2 + 500.0  # 100000 EUR / 100 at 1.1002, and 50000 USD / 100
    commissions = -3.5 * (1.0 + 0.5)  # the demo account's, per lot and side
    info = mt.account_info()
    assert info.balance == pytest.approx(10000 + commissions)
    assert info.profit == pytest.approx(eur_profit + jpy_profit, abs=0.011)
    assert info.equity == pytest.approx(info.balance + eur_profit + jpy_profit, abs=0.011)
    assert info.margin == pytest.approx(margin)
    assert info.margin_free == pytest.approx(info.equity - margin)
    assert info.margin_level == pytest.approx(info.equity / margin * 100)

    partial = done(deal("EURUSD", mt.ORDER_TYPE_SELL, 0.4, position=buy.order))
    assert partial.price == 1.105
    assert position(buy.order).volume == pytest.approx(0.6)
    info = mt.account_info()
    assert info.balance == pytest.approx(10000 + commissions - 1.4 + 0.4 * eur_profit)
    assert info.margin == pytest.approx(0.6 * 1100.2 + 500.0)

    deals = mt.history_deals_get(position=buy.order)
    assert [d.entry for d in deals] == [mt.DEAL_ENTRY_IN, mt.DEAL_ENTRY_OUT]
    assert [d.order for d in deals] == [buy.order, partial.order]
    assert [d.ticket for d in deals] == [buy.deal, partial.deal]
    assert deals[1].profit == pytest.approx(0.4 * eur_profit)
    assert [d.commission for d in deals] == [-3.5, -1.4]
    assert all(d.magic == 42 and d.comment == "test" for d in deals)
    orders = mt.history_orders_get(position=buy.order)
    assert [o.ticket for o in orders] == [buy.order, partial.order]
    assert all(o.state == mt.ORDER_STATE_FILLED and o.time_done >= o.time_setup for o in orders)

    all_deals = mt.history_deals_get(0, 2**31 - 1)
    assert all_deals[0].type == mt.DEAL_TYPE_BALANCE and all_deals[0].profit == 10000
    assert mt.account_info().balance == pytest.approx(
        sum(d.profit + d.commission + d.swap for d in all_deals))


def test_order_check_tells_the_outcome_and_changes_nothing(terminal: TerminalHome) -> None:
    check = mt.order_check(deal("GBPUSD", mt.ORDER_TYPE_BUY, 2.0))
    assert check.retcode == 0
    assert check.margin == pytest.approx(2 * 1250.2)
    assert check.balance == pytest.approx(10000 - 2 * 3.5)  # the commission is paid at once
    assert check.equity == pytest.approx(10000 - 2 * 20 - 2 * 3.5)
    assert check.margin_free == pytest.approx(check.equity - check.margin)
    assert check.request.volume == 2.0
    too_much = mt.order_check(deal("GBPUSD", mt.ORDER_TYPE_BUY, 50.0))
    assert too_much.retcode == mt.TRADE_RETCODE_NO_MONEY
    assert mt.positions_total() == 0
    assert mt.account_info().margin == 0


def test_margin_and_profit_calculation(terminal: TerminalHome) -> None:
    assert mt.order_calc_margin(mt.ORDER_TYPE_BUY, "EURUSD", 1.0, 1.2) == pytest.approx(1200)
    assert mt.order_calc_margin(mt.ORDER_TYPE_SELL, "USDJPY", 0.1, 150.0) == pytest.approx(100)
    profit = mt.order_calc_profit(mt.ORDER_TYPE_BUY, "USDJPY", 1.0, 150.0, 151.0)
    assert profit == pytest.approx(100000 / 151)
    loss = mt.order_calc_profit(mt.ORDER_TYPE_SELL, "EURUSD", 0.5, 1.1, 1.101)
    assert loss == pytest.approx(-50)
    assert mt.order_calc_margin(mt.ORDER_TYPE_BUY, "NOSUCH", 1.0, 1.0) is None
    assert mt.last_error()[0] == -4


REFUSALS = [
    ("volume under the minimum", {"volume": 0.001}, mt.TRADE_RETCODE_INVALID_VOLUME),
    ("volume off the step", {"volume": 0.015}, mt.TRADE_RETCODE_INVALID_VOLUME),
    ("not enough money", {"volume": 50.0}, mt.TRADE_RETCODE_NO_MONEY),
    ("price beyond the deviation", {"price": 1.101, "deviation": 5}, mt.TRADE_RETCODE_REQUOTE),
    ("stop loss above the bid", {"sl": 1.2}, mt.TRADE_RETCODE_INVALID_STOPS),
    ("unknown symbol", {"symbol": "NOSUCH"}, mt.TRADE_RETCODE_INVALID),
    ("unknown filling", {"type_filling": 7}, mt.TRADE_RETCODE_INVALID_FILL),
    ("unknown action", {"action": 3}, mt.TRADE_RETCODE_INVALID),
    ("unknown position", {"type": mt.ORDER_TYPE_SELL, "position": 987654},
     mt.TRADE_RETCODE_POSITION_CLOSED),
    ("pending order above the ask",
     {"action": mt.TRADE_ACTION_PENDING, "type": mt.ORDER_TYPE_BUY_LIMIT, "price": 1.2},
     mt.TRADE_RETCODE_INVALID_PRICE),
    ("expiration in the past",
     {"action": mt.TRADE_ACTION_PENDING, "type": mt.ORDER_TYPE_BUY_LIMIT, "price": 1.09,
      "type_time": mt.ORDER_TIME_SPECIFIED, "expiration": 1000000000},
     mt.TRADE_RETCODE_INVALID_EXPIRATION),
    ("modify an unknown order", {"action": mt.TRADE_ACTION_MODIFY, "order": 987654},
     mt.TRADE_RETCODE_INVALID),
    ("remove an unknown order", {"action": mt.TRADE_ACTION_REMOVE, "order": 987654},
     mt.TRADE_RETCODE_INVALID),
]


@pytest.mark.parametrize("extra,retcode", [r[1:] for r in REFUSALS], ids=[r[0] for r in REFUSALS])
def test_refusals(terminal: TerminalHome, extra: Dict[str, Any], retcode: int) -> None:
    held = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 0.1))
    before = mt.account_info()
    request = deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0)
    request.update(extra)
    result = send(request)
    assert (result.retcode, mt.last_error()[0]) == (retcode, 1)
    assert result.comment and result.deal == 0
    assert mt.order_check(request).retcode == retcode
    assert mt.positions_total() == 1 and mt.orders_total() == 0
    assert mt.account_info().balance == before.balance
    # A refusal uses no ticket: the next trade gets the next number.
    assert done(deal("EURUSD", mt.ORDER_TYPE_BUY, 0.1)).order == held.deal + 1


def test_closing_refusals(terminal: TerminalHome) -> None:
    held = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 0.5))
    too_much = send(deal("EURUSD", mt.ORDER_TYPE_SELL, 1.0, position=held.order))
    assert too_much.retcode == mt.TRADE_RETCODE_INVALID_CLOSE_VOLUME
    same = send({"action": mt.TRADE_ACTION_SLTP, "position": held.order})
    assert same.retcode == mt.TRADE_RETCODE_NO_CHANGES
    bad = send({"action": mt.TRADE_ACTION_SLTP, "position": held.order, "sl": 1.2})
    assert bad.retcode == mt.TRADE_RETCODE_INVALID_STOPS
    assert position(held.order).volume == 0.5


def test_pending_orders_place_modify_trigger_and_remove(terminal: TerminalHome) -> None:
    limit = done({"action": mt.TRADE_ACTION_PENDING, "symbol": "EURUSD",
                  "type": mt.ORDER_TYPE_BUY_LIMIT, "volume": 1.0, "price": 1.095, "sl": 1.09,
                  "magic": 7, "comment": "dip"})
    assert limit.retcode == mt.TRADE_RETCODE_DONE, limit.comment
    stop_limit = done({"action": mt.TRADE_ACTION_PENDING, "symbol": "GBPUSD",
                       "type": mt.ORDER_TYPE_SELL_STOP_LIMIT, "volume": 0.3, "price": 1.24,
                       "stoplimit": 1.242})
    stop = done({"action": mt.TRADE_ACTION_PENDING, "symbol": "EURUSD",
                 "type": mt.ORDER_TYPE_BUY_STOP, "volume": 0.2, "price": 1.2})
    assert mt.orders_total() == 3
    assert [o.ticket for o in mt.orders_get(symbol="EURUSD")] == [limit.order, stop.order]

    moved = done({"action": mt.TRADE_ACTION_MODIFY, "order": limit.order, "price": 1.096,
                  "sl": 1.09})
    assert moved.retcode == mt.TRADE_RETCODE_DONE
    assert mt.orders_get(ticket=limit.order)[0].price_open == 1.096

    # The ask comes down to the limit: the order fills and opens its position.
    set_price(terminal, "EURUSD", 1.09580, 1.09600)
    assert eventually(lambda: position(limit.order) is not None)
    opened = position(limit.order)
    assert (opened.identifier, opened.price_open, opened.sl, opened.magic) == (
        limit.order, 1.096, 1.09, 7)
    filled = mt.history_orders_get(ticket=limit.order)[0]
    assert filled.state == mt.ORDER_STATE_FILLED and filled.comment == "dip"
    assert mt.history_deals_get(position=limit.order)[0].order == limit.order

    # The bid reaches the stop-limit's trigger: a sell limit takes its place.
    set_price(terminal, "GBPUSD", 1.23990, 1.24010)
    assert eventually(lambda: mt.orders_get(ticket=stop_limit.order) == ())
    placed = [o for o in mt.orders_get(symbol="GBPUSD")]
    assert len(placed) == 1
    assert (placed[0].type, placed[0].price_open) == (mt.ORDER_TYPE_SELL_LIMIT, 1.242)
    set_price(terminal, "GBPUSD", 1.24250, 1.24270)
    assert eventually(lambda: mt.positions_get(symbol="GBPUSD") != ())
    assert mt.positions_get(symbol="GBPUSD")[0].type == mt.POSITION_TYPE_SELL

    removed = done({"action": mt.TRADE_ACTION_REMOVE, "order": stop.order})
    assert removed.retcode == mt.TRADE_RETCODE_DONE
    assert mt.orders_total() == 0
    assert mt.history_orders_get(ticket=stop.order)[0].state == mt.ORDER_STATE_CANCELED


def test_orders_expire(terminal: TerminalHome) -> None:
    soon = int(time.time()) + 2  # whole seconds: at least one second ahead
    order = done({"action": mt.TRADE_ACTION_PENDING, "symbol": "EURUSD",
                  "type": mt.ORDER_TYPE_SELL_LIMIT, "volume": 1.0, "price": 1.2,
                  "type_time": mt.ORDER_TIME_SPECIFIED, "expiration": soon})
    assert mt.orders_get(ticket=order.order)[0].time_expiration == soon
    assert eventually(lambda: mt.orders_total() == 0, timeout=5)
    assert mt.history_orders_get(ticket=order.order)[0].state == mt.ORDER_STATE_EXPIRED


def test_stops_close_positions(terminal: TerminalHome) -> None:
    buy = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0, tp=1.11))
    sell = done(deal("GBPUSD", mt.ORDER_TYPE_SELL, 1.0))
    done({"action": mt.TRADE_ACTION_SLTP, "position": sell.order, "sl": 1.26})
    assert position(sell.order).sl == 1.26

    set_price(terminal, "EURUSD", 1.11000, 1.11020)
    set_price(terminal, "GBPUSD", 1.25990, 1.26010)
    assert eventually(lambda: mt.positions_total() == 0)
    tp_deal = mt.history_deals_get(position=buy.order)[-1]
    sl_deal = mt.history_deals_get(position=sell.order)[-1]
    assert (tp_deal.reason, tp_deal.entry, tp_deal.price) == (mt.DEAL_REASON_TP,
                                                              mt.DEAL_ENTRY_OUT, 1.11)
    assert (sl_deal.reason, sl_deal.price) == (mt.DEAL_REASON_SL, 1.2601)
    assert tp_deal.profit == pytest.approx(980)
    assert sl_deal.profit == pytest.approx(-1010)
    assert mt.account_info().balance == pytest.approx(10000 + 980 - 1010 - 4 * 3.5)


def test_stop_out_closes_the_most_losing_position(terminal: TerminalHome) -> None:
    small = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 2.0))
    large = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 6.0))
    set_price(terminal, "EURUSD", 1.08970, 1.08990)
    assert eventually(lambda: mt.positions_total() == 1)
    assert position(small.order) is not None
    closing = mt.history_deals_get(position=large.order)[-1]
    assert closing.reason == mt.DEAL_REASON_SO
    info = mt.account_info()
    assert info.margin_level >= info.margin_so_so


def test_close_by(terminal: TerminalHome) -> None:
    buy = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0))
    set_price(terminal, "EURUSD", 1.10500, 1.10520)
    sell = done(deal("EURUSD", mt.ORDER_TYPE_SELL, 0.6))
    result = done({"action": mt.TRADE_ACTION_CLOSE_BY, "position": buy.order,
                   "position_by": sell.order})
    assert result.retcode == mt.TRADE_RETCODE_DONE
    assert [p.ticket for p in mt.positions_get()] == [buy.order]
    assert position(buy.order).volume == pytest.approx(0.4)
    # Both deals of the close-by pay the commission, as the two openings did.
    commissions = -3.5 * (1.0 + 0.6 + 0.6 + 0.6)
    assert mt.account_info().balance == pytest.approx(
        10000 + 0.6 * 100000 * (1.105 - 1.1002) + commissions)
    closing = mt.history_deals_get(position=sell.order)[-1]
    assert (closing.entry, closing.order) == (mt.DEAL_ENTRY_OUT_BY, result.order)
    assert mt.history_orders_get(ticket=result.order)[0].type == mt.ORDER_TYPE_CLOSE_BY


def test_netting_account_keeps_one_position_per_symbol(terminal: TerminalHome) -> None:
    assert mt.login(10002, "demo", "Quillmark-Demo"), mt.last_error()
    assert mt.account_info().margin_mode == mt.ACCOUNT_MARGIN_MODE_RETAIL_NETTING
    first = done(deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0))
    done(deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0))
    done(deal("EURUSD", mt.ORDER_TYPE_SELL, 0.5))
    held = mt.positions_get()
    assert len(held) == 1 and held[0].ticket == first.order and held[0].volume == 1.5
    flip = done(deal("EURUSD", mt.ORDER_TYPE_SELL, 2.0))
    held = mt.positions_get()
    assert len(held) == 1
    assert (held[0].type, held[0].volume, held[0].price_open) == (mt.POSITION_TYPE_SELL, 0.5, 1.1)
    assert mt.history_deals_get(ticket=flip.deal)[0].entry == mt.DEAL_ENTRY_INOUT
    assert mt.account_info().balance == pytest.approx(10000 - 2 * 20 - 3.5 * 4.5)
    refused = send({"action": mt.TRADE_ACTION_CLOSE_BY, "position": first.order,
                    "position_by": first.order})
    assert refused.retcode == mt.TRADE_RETCODE_INVALID
    # The hedging account did not see any of it.
    assert mt.login(10001, "demo", "Quillmark-Demo")
    assert mt.positions_total() == 0


def test_order_send_refused_when_automated_trading_is_off(tmp_path: Path) -> None:
    home = start_terminal(tmp_path, "--no-autotrading")
    try:
        assert mt.order_send(deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0)) is None
        assert mt.last_error() == (-8, "Auto-Trading using Python API disabled in Terminal")
        assert mt.order_check(deal("EURUSD", mt.ORDER_TYPE_BUY, 1.0)).retcode == 0
        assert mt.positions_total() == 0
    finally:
        mt.shutdown()
        home.stop_all()
