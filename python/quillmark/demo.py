"""A short guided tour of the bundled terminal (``python -m quillmark demo``)."""

from __future__ import annotations

import datetime as _dt
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import zlib
from typing import Dict, List, Optional, Sequence, Tuple

import quillmark as q
from quillmark.terminal import stop_terminal, terminal_pids

WATCHED = ["EURUSD", "GBPUSD", "USDJPY", "XAUUSD", "US500", "BTCUSD"]
LIVE = ["BTCUSD", "ETHUSD", "LTCUSD", "SOLUSD", "XRPUSD"]


def _utc(seconds: int) -> str:
    return _dt.datetime.fromtimestamp(seconds, _dt.timezone.utc).strftime("%Y-%m-%d %H:%M")


# ---- A candlestick chart as a PNG, written with zlib alone ----

Color = Tuple[int, int, int]
BACKGROUND: Color = (250, 250, 247)
GRID: Color = (225, 225, 220)
UP: Color = (38, 166, 91)
DOWN: Color = (214, 69, 65)
FRAME: Color = (120, 120, 120)


class Canvas:
    def __init__(self, width: int, height: int) -> None:
        self.width = width
        self.height = height
        self.pixels = bytearray(bytes(BACKGROUND) * (width * height))

    def fill(self, x0: int, y0: int, x1: int, y1: int, color: Color) -> None:
        x0, x1 = max(0, min(x0, x1)), min(self.width - 1, max(x0, x1))
        y0, y1 = max(0, min(y0, y1)), min(self.height - 1, max(y0, y1))
        row = bytes(color) * (x1 - x0 + 1)
        for y in range(y0, y1 + 1):
            start = (y * self.width + x0) * 3
            self.pixels[start:start + len(row)] = row

    def png(self) -> bytes:
        def chunk(kind: bytes, data: bytes) -> bytes:
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        stride = self.width * 3
        raw = b"".join(b"\x00" + bytes(self.pixels[y * stride:(y + 1) * stride])
                       for y in range(self.height))
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def candlestick_png(bars: Sequence, width: int = 960, height: int = 480) -> bytes:
    """Candles of the bars (fields open, high, low, close), oldest on the left."""
    canvas = Canvas(width, height)
    margin = 24
    top, bottom = margin, height - margin
    high = max(float(b["high"]) for b in bars)
    low = min(float(b["low"]) for b in bars)
    span = (high - low) or 1.0

    def y(price: float) -> int:
        return int(round(bottom - (price - low) / span * (bottom - top)))

    for i in range(5):
        level = top + i * (bottom - top) // 4
        canvas.fill(margin, level, width - margin, level, GRID)
    canvas.fill(margin, top, margin, bottom, FRAME)
    canvas.fill(margin, bottom, width - margin, bottom, FRAME)
    step = (width - 2 * margin) / len(bars)
    body = max(1, int(step * 0.35))
    for i, bar in enumerate(bars):
        x = int(margin + step * (i + 0.5))
        color = UP if bar["close"] >= bar["open"] else DOWN
        canvas.fill(x, y(bar["high"]), x, y(bar["low"]), color)
        canvas.fill(x - body, y(bar["open"]), x + body, y(bar["close"]), color)
    return canvas.png()


# ---- The tour ----

def _show_terminal_and_account() -> None:
    version = q.version()
    info = q.terminal_info()
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
    digits = q.symbol_info(symbol).digits
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
        image.write(candlestick_png(bars))
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
    info = q.symbol_info(symbol)
    volume = max(info.volume_min, 0.1)
    request = {"action": q.TRADE_ACTION_DEAL, "symbol": symbol, "type": q.ORDER_TYPE_BUY,
               "volume": volume, "deviation": 20, "type_filling": q.ORDER_FILLING_IOC,
               "magic": 2024, "comment": "quillmark demo"}
    check = q.order_check(request)
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
    stops = q.order_send({"action": q.TRADE_ACTION_SLTP, "position": sent.order,
                          "sl": round(sent.price - span, info.digits),
                          "tp": round(sent.price + span, info.digits)})
    held = q.positions_get(ticket=sent.order)
    if held:
        p = held[0]
        print(f"  stops        {stops.comment}: sl {p.sl:.{info.digits}f}, tp {p.tp:.{info.digits}f}, "
              f"floating profit {p.profit:,.2f}")
    pending = q.order_send({"action": q.TRADE_ACTION_PENDING, "symbol": symbol,
                            "type": q.ORDER_TYPE_BUY_LIMIT, "volume": volume,
                            "price": round(sent.price - 2 * span, info.digits),
                            "type_time": q.ORDER_TIME_DAY, "type_filling": q.ORDER_FILLING_RETURN})
    print(f"  pending      buy limit: {pending.comment} (order {pending.order}), "
          f"{q.orders_total()} order(s) waiting")
    closed = q.order_send({**request, "type": q.ORDER_TYPE_SELL, "position": sent.order})
    removed = q.order_send({"action": q.TRADE_ACTION_REMOVE, "order": pending.order})
    print(f"  close        {closed.comment} at {closed.price:.{info.digits}f}; "
          f"remove: {removed.comment}")
    for deal in q.history_deals_get(position=sent.order) or ():
        entry = "in" if deal.entry == q.DEAL_ENTRY_IN else "out"
        print(f"  deal {deal.ticket:<8} {entry:<3} {deal.volume:g} at "
              f"{deal.price:.{info.digits}f}, profit {deal.profit:,.2f}")
    account = q.account_info()
    print(f"  balance now {account.balance:,.2f} {account.currency}")


def run_demo(keep_terminal: bool = False, user_data: bool = False, symbol: str = "EURUSD",
             output: str = ".", seconds: float = 5.0) -> int:
    path = q.terminal_path()
    if not os.path.exists(path):
        print(f"The bundled terminal is missing at {path}")
        return 1
    data_home = None
    if not user_data:
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
    try:
        _show_terminal_and_account()
        _show_prices()
        _show_bars(symbol, output)
        _trade(symbol)
        _watch_ticks(seconds)
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
    return 0
