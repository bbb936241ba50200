"""A short guided tour of the bundled terminal (``python -m quillmark demo``)."""

from __future__ import annotations

import datetime as _dt
import os
import shutil
import sys
import tempfile
import time
from typing import Dict, Optional, TypeVar

import quillmark as q
from quillmark.chart import candlestick_png
from quillmark.terminal import stop_terminal, terminal_pids

WATCHED = ["EURUSD", "GBPUSD", "USDJPY", "XAUUSD", "US500", "BTCUSD"]
LIVE = ["BTCUSD", "ETHUSD", "LTCUSD", "SOLUSD", "XRPUSD"]


T = TypeVar("T")


class CallFailed(Exception):
    pass


def _ok(value: Optional[T], call: str) -> T:
    """The result of a call the tour cannot go on without."""
    if value is None:
        raise CallFailed(f"{call} failed: {q.last_error()}")
    return value


def _utc(seconds: int) -> str:
    return _dt.datetime.fromtimestamp(seconds, _dt.timezone.utc).strftime("%Y-%m-%d %H:%M")


# ---- The tour ----

def _show_terminal_and_account() -> None:
    version = q.version()
    info = _ok(q.terminal_info(), "terminal_info")
    account = q.account_info()
    print(f"Terminal   {info.name} {version[0]}.{version[1]} ({version[2]}), "
          f"{'connected' if info.connected else 'not connected'}")
    print(f"  installed in {info.path}")
    print(f"  data in      {info.data_path}")
    if account is not None:
        print(f"Account    {account.login} on {account.server}: {account.balance:,.2f} "
              f"{account.currency}, leverage 1:{account.leverage}, {account.name}")


def _show_prices() -> None:
    print()
    print(f"{'Symbol':<8} {'Bid':>12} {'Ask':>12} {'Spread':>7} {'Day %':>7}  Description")
    for name in WATCHED:
        s = q.symbol_info(name)
        if s is None:
            continue
        print(f"{s.name:<8} {s.bid:>12.{s.digits}f} {s.ask:>12.{s.digits}f} {s.spread:>7} "
              f"{s.price_change:>+7.2f}  {s.description}")


def _show_bars(symbol: str, output: str) -> Optional[str]:
    bars = q.copy_rates_from_pos(symbol, q.TIMEFRAME_H1, 0, 60)
    if bars is None or len(bars) == 0:
        print(f"No bars of {symbol}: {q.last_error()}")
        return None
    digits = _ok(q.symbol_info(symbol), "symbol_info").digits
    print()
    print(f"Last H1 bars of {symbol} (UTC)")
    print(f"{'Time':<17} {'Open':>11} {'High':>11} {'Low':>11} {'Close':>11} {'Ticks':>7}")
    for bar in bars[-8:]:
        print(f"{_utc(int(bar['time'])):<17} {bar['open']:>11.{digits}f} "
              f"{bar['high']:>11.{digits}f} {bar['low']:>11.{digits}f} "
              f"{bar['close']:>11.{digits}f} {int(bar['tick_volume']):>7}")
    os.makedirs(output, exist_ok=True)
    path = os.path.abspath(os.path.join(output, f"quillmark_{symbol}_H1.png"))
    with open(path, "wb") as image:
        image.write(candlestick_png(bars, title=f"{symbol} H1", digits=digits))
    print(f"Candlestick chart of the last {len(bars)} H1 bars saved to {path}")
    return path


def _watch_ticks(seconds: float) -> int:
    print()
    print(f"Live ticks for {seconds:g} seconds ({', '.join(LIVE)} trade around the clock)")
    last: Dict[str, int] = {}
    for name in LIVE:
        tick = q.symbol_info_tick(name)
        last[name] = tick.time_msc if tick else 0
    seen = 0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for name in LIVE:
            start = last[name] // 1000 + 1 if last[name] else int(time.time())
            ticks = q.copy_ticks_range(name, start - 1, int(time.time()) + 1, q.COPY_TICKS_ALL)
            for tick in ticks if ticks is not None else ():
                if tick["time_msc"] <= last[name]:
                    continue
                last[name] = int(tick["time_msc"])
                seen += 1
                stamp = _dt.datetime.fromtimestamp(tick["time_msc"] / 1000, _dt.timezone.utc)
                print(f"  {stamp.strftime('%H:%M:%S.%f')[:-3]} {name:<7} "
                      f"bid {tick['bid']:<12g} ask {tick['ask']:<12g} flags {int(tick['flags'])}")
        time.sleep(0.25)
    if seen == 0:
        print("  (no new ticks in that time)")
    return seen


def _trade_symbol(preferred: str) -> Optional[str]:
    """The preferred symbol, or a crypto pair when its market is closed now."""
    for name in (preferred, "BTCUSD"):
        probe = q.order_check({"action": q.TRADE_ACTION_DEAL, "symbol": name,
                               "type": q.ORDER_TYPE_BUY, "volume": 0.1,
                               "type_filling": q.ORDER_FILLING_IOC})
        if probe is not None and probe.retcode != q.TRADE_RETCODE_MARKET_CLOSED:
            return name
    return None


def _trade(preferred: str) -> None:
    """A round trip on the demo account: check, buy, stops, a pending order, close."""
    print()
    symbol = _trade_symbol(preferred)
    if symbol is None:
        print(f"Trading skipped: the market of {preferred} is closed now")
        return
    info = _ok(q.symbol_info(symbol), "symbol_info")
    volume = max(info.volume_min, 0.1)
    request = {"action": q.TRADE_ACTION_DEAL, "symbol": symbol, "type": q.ORDER_TYPE_BUY,
               "volume": volume, "deviation": 20, "type_filling": q.ORDER_FILLING_IOC,
               "magic": 2024, "comment": "quillmark demo"}
    check = _ok(q.order_check(request), "order_check")
    print(f"Trading {symbol} on the demo account")
    print(f"  order_check  buy {volume:g}: {check.comment}, margin {check.margin:,.2f}, "
          f"free margin after {check.margin_free:,.2f}")
    sent = q.order_send(request)
    if sent is None or sent.retcode != q.TRADE_RETCODE_DONE:
        print(f"  order_send   refused: {sent.comment if sent else q.last_error()}")
        return
    print(f"  order_send   bought {sent.volume:g} at {sent.price:.{info.digits}f} "
          f"(order {sent.order}, deal {sent.deal})")
    span = 200 * info.point * max(1, info.spread)
    stops = _ok(q.order_send({"action": q.TRADE_ACTION_SLTP, "position": sent.order,
                              "sl": round(sent.price - span, info.digits),
                              "tp": round(sent.price + span, info.digits)}), "order_send")
    held = q.positions_get(ticket=sent.order)
    if held:
        p = held[0]
        print(f"  stops        {stops.comment}: sl {p.sl:.{info.digits}f}, tp {p.tp:.{info.digits}f}, "
              f"floating profit {p.profit:,.2f}")
    pending = _ok(q.order_send({"action": q.TRADE_ACTION_PENDING, "symbol": symbol,
                                "type": q.ORDER_TYPE_BUY_LIMIT, "volume": volume,
                                "price": round(sent.price - 2 * span, info.digits),
                                "type_time": q.ORDER_TIME_DAY,
                                "type_filling": q.ORDER_FILLING_RETURN}), "order_send")
    print(f"  pending      buy limit: {pending.comment} (order {pending.order}), "
          f"{q.orders_total()} order(s) waiting")
    closed = _ok(q.order_send({**request, "type": q.ORDER_TYPE_SELL, "position": sent.order}),
                 "order_send")
    removed = _ok(q.order_send({"action": q.TRADE_ACTION_REMOVE, "order": pending.order}),
                  "order_send")
    print(f"  close        {closed.comment} at {closed.price:.{info.digits}f}; "
          f"remove: {removed.comment}")
    for deal in q.history_deals_get(position=sent.order) or ():
        entry = "in" if deal.entry == q.DEAL_ENTRY_IN else "out"
        print(f"  deal {deal.ticket:<8} {entry:<3} {deal.volume:g} at "
              f"{deal.price:.{info.digits}f}, profit {deal.profit:,.2f}")
    account = _ok(q.account_info(), "account_info")
    print(f"  balance now {account.balance:,.2f} {account.currency}")


def run_demo(keep_terminal: bool = False, user_data: bool = False, symbol: str = "EURUSD",
             output: str = ".", seconds: float = 5.0) -> int:
    path = q.terminal_path()
    if not os.path.exists(path):
        print(f"The bundled terminal is missing at {path}")
        return 1
    data_home = None
    # On Windows the terminal keeps its data in the user's roaming folder,
    # which no environment variable moves.
    if not user_data and sys.platform != "win32":
        # The terminal inherits the environment: its data goes to a
        # temporary folder and the user's own stays untouched.
        data_home = tempfile.mkdtemp(prefix="quillmark-demo-")
        os.environ["XDG_DATA_HOME"] = data_home
    was_running = bool(terminal_pids(path))
    print(f"Starting the bundled terminal {path}")
    if was_running:
        print("  (it is already running: the demo uses it and leaves it running)")
    if not q.initialize(path=path):
        print(f"initialize failed: {q.last_error()}")
        return 1
    status = 0
    try:
        _show_terminal_and_account()
        _show_prices()
        _show_bars(symbol, output)
        _trade(symbol)
        _watch_ticks(seconds)
    except CallFailed as failure:
        print(failure)
        status = 1
    finally:
        q.shutdown()
    print()
    print("Link closed (shutdown).")
    if keep_terminal or was_running:
        print("The terminal keeps running; initialize() finds it again.")
        if data_home:
            print(f"Its data folder is under {data_home}")
    else:
        stopped = stop_terminal(path)
        print("Terminal stopped." if stopped else "The terminal did not stop in time.")
        if data_home and stopped:
            shutil.rmtree(data_home, ignore_errors=True)
    return status
