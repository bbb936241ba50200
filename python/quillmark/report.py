"""The report of a replay (``python -m quillmark report DIR``): balance and
equity curves as a PNG, then the figures and the trade list in Markdown.

The account is read from the replay's own database, opened read-only, so a
report can be made while the replay runs or long after it stopped.
"""

from __future__ import annotations

import datetime as _dt
import math
import os
import sqlite3
import statistics
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple

from . import _core, constants as c
from .chart import curves_png
from .replays import connect, executable
from .terminal import terminal_pids

__all__ = ["write_report"]

# Money moved into or out of the account, as opposed to the result of trading.
FLOW_TYPES = (c.DEAL_TYPE_BALANCE, c.DEAL_TYPE_CREDIT)
CLOSING_ENTRIES = (c.DEAL_ENTRY_OUT, c.DEAL_ENTRY_INOUT, c.DEAL_ENTRY_OUT_BY)
TRADE_TYPES = (c.DEAL_TYPE_BUY, c.DEAL_TYPE_SELL)
# The equity curve is sampled at most about this many times per symbol.
EQUITY_SAMPLES = 1500
TIMEFRAMES = ((c.TIMEFRAME_M1, 60), (c.TIMEFRAME_M5, 300), (c.TIMEFRAME_M15, 900),
              (c.TIMEFRAME_H1, 3600), (c.TIMEFRAME_H4, 14400), (c.TIMEFRAME_D1, 86400))
DAY = 86400


class ReportError(Exception):
    """The replay folder holds no account to report."""


@dataclass
class Deal:
    ticket: int
    time_msc: int
    type: int
    entry: int
    position_id: int
    volume: float
    price: float
    commission: float
    swap: float
    profit: float
    fee: float
    symbol: str
    comment: str

    @property
    def result(self) -> float:
        """What the deal did to the balance."""
        return self.profit + self.swap + self.commission + self.fee


@dataclass
class Account:
    login: int
    currency: str
    deals: List[Deal]


@dataclass
class Figures:
    net_profit: float
    gross_profit: float
    gross_loss: float
    opening_costs: float
    profit_factor: Optional[float]
    trades: int
    wins: int
    average_trade: Optional[float]
    balance_drawdown: Tuple[float, float]
    drawdown: Tuple[float, float]
    sharpe: Optional[float]


@dataclass
class Curves:
    """Balance and, where it could be rebuilt, equity at the same times."""

    times: List[int]
    balance: List[float]
    equity: Optional[List[float]] = None
    note: str = ""
    flows: Dict[int, float] = field(default_factory=dict)


def database_path(folder: str) -> Path:
    return Path(folder).absolute() / "config" / "accounts.dat"


def read_account(folder: str, login: Optional[int] = None) -> Account:
    """The account `login` (by default the one last logged in to) and its
    deals in the order they were booked."""
    path = database_path(folder)
    if not path.is_file():
        raise ReportError(f"no account database at {path}")
    # Read-only: the replay's terminal may be writing to it right now.
    db = sqlite3.connect(f"{path.as_uri()}?mode=ro", uri=True)
    try:
        if login is None:
            row = db.execute("SELECT value FROM settings WHERE key = 'current_login'").fetchone()
            if row is None:
                raise ReportError(f"{path} names no current account")
            login = int(row[0])
        account = db.execute("SELECT currency FROM accounts WHERE login = ?", (login,)).fetchone()
        if account is None:
            raise ReportError(f"{path} holds no account {login}")
        rows = db.execute(
            "SELECT ticket, time_msc, type, entry, position_id, volume, price, commission, swap,"
            " profit, fee, symbol, comment FROM deals WHERE login = ?"
            " ORDER BY time_msc, ticket", (login,)).fetchall()
    finally:
        db.close()
    deals = [Deal(ticket=r[0], time_msc=r[1], type=r[2], entry=r[3], position_id=r[4],
                  volume=r[5], price=r[6], commission=r[7], swap=r[8], profit=r[9], fee=r[10],
                  symbol=r[11] or "", comment=r[12] or "") for r in rows]
    return Account(login=login, currency=account[0] or "", deals=deals)


def drawdown(values: Sequence[float]) -> Tuple[float, float]:
    """The largest fall from a running peak, in money and in percent of that
    peak (each the largest of its kind, which may be different falls)."""
    peak = values[0] if values else 0.0
    money = percent = 0.0
    for value in values:
        peak = max(peak, value)
        money = max(money, peak - value)
        if peak > 0:
            percent = max(percent, (peak - value) / peak * 100)
    return money, percent


def daily_sharpe(times: Sequence[int], values: Sequence[float],
                 flows: Dict[int, float]) -> Optional[float]:
    """Sharpe ratio of the daily returns (UTC days, every calendar day from
    the first sample's to the last's), without money moved in or out,
    annualised with 365 days; None with fewer than two returns or no spread."""
    if not times:
        return None
    closes: Dict[int, float] = {}
    for t, value in zip(times, values):
        closes[t // DAY] = value
    days = range(times[0] // DAY, times[-1] // DAY + 1)
    value = values[0]
    ends: List[float] = []
    for day in days:
        value = closes.get(day, value)
        ends.append(value)
    returns = [(ends[i] - ends[i - 1] - flows.get(days[i], 0.0)) / ends[i - 1]
               for i in range(1, len(ends)) if ends[i - 1] > 0]
    if len(returns) < 2 or statistics.stdev(returns) == 0:
        return None
    return statistics.mean(returns) / statistics.stdev(returns) * math.sqrt(365)


def balance_curve(deals: Sequence[Deal]) -> Curves:
    """The balance after each deal, from the first deal on; deals within
    one second each keep their own point, so no fall between them is lost."""
    balance = 0.0
    curves = Curves(times=[], balance=[])
    for deal in deals:
        balance += deal.result
        second = deal.time_msc // 1000
        if deal.type in FLOW_TYPES and curves.times:
            day = second // DAY
            curves.flows[day] = curves.flows.get(day, 0.0) + deal.result
        curves.times.append(second)
        curves.balance.append(balance)
    return curves


def figures(deals: Sequence[Deal], curves: Curves) -> Figures:
    trading = [d for d in deals if d.type not in FLOW_TYPES]
    closing = [d.result for d in trading if d.type in TRADE_TYPES and d.entry in CLOSING_ENTRIES]
    gross_profit = sum(r for r in closing if r > 0)
    gross_loss = sum(r for r in closing if r < 0)
    net = sum(d.result for d in trading)
    shown = curves.equity if curves.equity is not None else curves.balance
    return Figures(
        net_profit=net, gross_profit=gross_profit, gross_loss=gross_loss,
        opening_costs=net - gross_profit - gross_loss,
        profit_factor=gross_profit / -gross_loss if gross_loss < 0 else None,
        trades=len(closing), wins=sum(1 for r in closing if r > 0),
        average_trade=(gross_profit + gross_loss) / len(closing) if closing else None,
        balance_drawdown=drawdown(balance_curve(deals).balance), drawdown=drawdown(shown),
        sharpe=daily_sharpe(curves.times, shown, curves.flows))


# ---- Equity between deals ----

@dataclass
class OpenPosition:
    symbol: str
    long: bool
    volume: float
    price: float


def apply_deal(positions: Dict[int, OpenPosition], deal: Deal) -> None:
    """Follow a position through its deals: opened, added to (netting),
    reduced, closed or reversed."""
    if deal.type not in TRADE_TYPES:
        return
    buy = deal.type == c.DEAL_TYPE_BUY
    held = positions.get(deal.position_id)
    if held is None:
        if deal.entry == c.DEAL_ENTRY_IN:
            positions[deal.position_id] = OpenPosition(deal.symbol, buy, deal.volume, deal.price)
        return
    if held.long == buy:
        total = held.volume + deal.volume
        held.price = (held.price * held.volume + deal.price * deal.volume) / total
        held.volume = total
        return
    left = round(held.volume - deal.volume, 8)
    if left > 0:
        held.volume = left
    elif left < 0:
        positions[deal.position_id] = OpenPosition(deal.symbol, buy, -left, deal.price)
    else:
        del positions[deal.position_id]


def _timeframe(seconds: int) -> Tuple[int, int]:
    for timeframe, length in TIMEFRAMES:
        if seconds / length <= EQUITY_SAMPLES:
            return timeframe, length
    return TIMEFRAMES[-1]


def _closing_prices(symbols: Sequence[str], begin: int, end: int, timeframe: int,
                    length: int) -> Dict[str, Dict[int, Tuple[float, float]]]:
    """Per symbol, bar time -> the prices a long and a short position would
    close at at that bar's close (bid, and bid plus the bar's spread)."""
    prices: Dict[str, Dict[int, Tuple[float, float]]] = {}
    for symbol in symbols:
        info = _core.symbol_info(symbol)
        bars = _core.copy_rates_range(symbol, timeframe, begin, end)
        if info is None or bars is None:
            raise ReportError(f"no bars of {symbol}: {_core.last_error()}")
        prices[symbol] = {int(b["time"]): (float(b["close"]),
                                           float(b["close"]) + int(b["spread"]) * info.point)
                          for b in bars}
        # The bar that holds the latest tick is still open: its close is that
        # tick, whose ask is known exactly.
        tick = _core.symbol_info_tick(symbol)
        if len(bars) and tick is not None and 0 <= tick.time - int(bars[-1]["time"]) < length:
            prices[symbol][int(bars[-1]["time"])] = (tick.bid, tick.ask)
    return prices


def equity_from_bars(deals: Sequence[Deal], curves: Curves) -> None:
    """Equity at each bar close: the balance plus what the open positions
    would make if closed at that close, asked of the running terminal."""
    symbols = sorted({d.symbol for d in deals if d.type in TRADE_TYPES})
    if not symbols:
        curves.note = "There are no trades: the curve is the balance."
        return
    begin = min(d.time_msc for d in deals if d.type in TRADE_TYPES) // 1000
    tick = _core.symbol_info_tick(symbols[0])
    end = max(int(tick.time) if tick is not None else 0, curves.times[-1])
    timeframe, length = _timeframe(max(1, end - begin))
    prices = _closing_prices(symbols, begin - length, end, timeframe, length)
    bar_times = sorted({t for series in prices.values() for t in series if t + length >= begin})
    samples: List[Tuple[int, Optional[int]]] = [(min(t + length, end), t) for t in bar_times]
    if not samples or samples[-1][0] < end:
        samples.append((end, None))  # past the last bar, as when the market has closed
    times: List[int] = []
    balance: List[float] = []
    equity: List[float] = []
    positions: Dict[int, OpenPosition] = {}
    last: Dict[str, Tuple[float, float]] = {}
    # Nothing is open before the first trading deal: there equity is the balance.
    at = next(i for i, d in enumerate(deals) if d.type in TRADE_TYPES)
    booked = sum(d.result for d in deals[:at])
    times.append(begin)
    balance.append(booked)
    equity.append(booked)
    for close_time, stamp in samples:
        while at < len(deals) and deals[at].time_msc // 1000 <= close_time:
            booked += deals[at].result
            apply_deal(positions, deals[at])
            at += 1
        for symbol in symbols:
            if stamp is not None and stamp in prices[symbol]:
                last[symbol] = prices[symbol][stamp]
        floating = 0.0
        for p in positions.values():
            if p.symbol in last:
                action = c.ORDER_TYPE_BUY if p.long else c.ORDER_TYPE_SELL
                price = last[p.symbol][0 if p.long else 1]
                floating += _core.order_calc_profit(action, p.symbol, p.volume, p.price,
                                                    price) or 0.0
        times.append(close_time)
        balance.append(booked)
        equity.append(booked + floating)
    curves.times, curves.balance, curves.equity = times, balance, equity
    curves.note = (
        "Equity starts at the balance before the first trade and is rebuilt at the close of "
        f"every {length // 60}-minute bar of the traded symbols: the balance after the deals "
        "until then, plus what each open position (followed through its deals) would make if "
        "closed at that close, as the terminal computes it at its current conversion rates. "
        "A buy closes at the bar's close (the bid), a sell at that plus the bar's spread, or "
        "at the latest ask in the bar still open. Swap accrued on open positions is left out "
        "until the deal that books it, and prices within a bar are not seen, so the true "
        "lowest equity may be lower.")


def build_curves(folder: str, account: Account) -> Curves:
    curves = balance_curve(account.deals)
    exe = executable(folder)
    if not terminal_pids(exe):
        curves.note = ("The replay's terminal is not running, so its prices cannot be read: "
                       "the curve, the drawdown and the Sharpe ratio are of the balance alone, "
                       "sampled at each deal. Run the report while the replay runs to see equity.")
        return curves
    if not connect(folder, 10000):
        raise ReportError(f"cannot reach the replay's terminal: {_core.last_error()}")
    try:
        equity_from_bars(account.deals, curves)
    finally:
        _core.shutdown()
    return curves


# ---- Writing ----

def _money(value: float) -> str:
    return f"{value:,.2f}"


def _utc(msc: int) -> str:
    stamp = _dt.datetime.fromtimestamp(msc / 1000, _dt.timezone.utc)
    return stamp.strftime("%Y-%m-%d %H:%M:%S")


DEAL_TYPES = {c.DEAL_TYPE_BUY: "buy", c.DEAL_TYPE_SELL: "sell", c.DEAL_TYPE_BALANCE: "balance",
              c.DEAL_TYPE_CREDIT: "credit"}
ENTRIES = {c.DEAL_ENTRY_IN: "in", c.DEAL_ENTRY_OUT: "out", c.DEAL_ENTRY_INOUT: "in/out",
           c.DEAL_ENTRY_OUT_BY: "out by"}


def markdown(account: Account, result: Figures, curves: Curves, image: str) -> str:
    cur = account.currency
    win_rate = f"{result.wins / result.trades * 100:.2f} %" if result.trades else "n/a"
    factor = "n/a" if result.profit_factor is None else f"{result.profit_factor:.2f}"
    sharpe = "n/a" if result.sharpe is None else f"{result.sharpe:.2f}"
    average = "n/a" if result.average_trade is None else f"{result.average_trade:,.2f} {cur}"
    kind = "equity" if curves.equity is not None else "balance"
    lines = [
        f"# Replay report: account {account.login}",
        "",
        f"![Balance and equity of account {account.login}]({image})",
        "",
        "| Figure | Value |",
        "|---|---|",
        f"| Net profit | {_money(result.net_profit)} {cur} |",
        f"| Gross profit | {_money(result.gross_profit)} {cur} |",
        f"| Gross loss | {_money(result.gross_loss)} {cur} |",
        f"| Costs of opening deals | {_money(result.opening_costs)} {cur} |",
        f"| Profit factor | {factor} |",
    ]
    drawdowns = [("equity", result.drawdown)] if curves.equity is not None else []
    for name, (money, percent) in drawdowns + [("balance", result.balance_drawdown)]:
        lines += [f"| Maximum drawdown ({name}) | {_money(money)} {cur} |",
                  f"| Maximum drawdown ({name}) % | {percent:.2f} % |"]
    lines += [
        f"| Number of trades | {result.trades} |",
        f"| Win rate | {win_rate} |",
        f"| Average trade | {average} |",
        f"| Sharpe ratio of daily returns ({kind}) | {sharpe} |",
        "",
        "A trade is a deal that closes a position, or part of one; its result is the deal's "
        "profit, swap, commission and fee. Gross profit and gross loss add up the winning "
        "and losing trades; the commission of the deals that open positions is counted "
        "apart, so that net profit = gross profit + gross loss + costs of opening deals. "
        "Deposits and withdrawals are not profit. The Sharpe ratio is the mean of the "
        "daily returns (each UTC day's close, money moved in or out taken away) over "
        "their standard deviation, times the square root of 365.",
        "",
        curves.note,
        "",
        "## Deals",
        "",
        "| Time (UTC) | Deal | Position | Symbol | Type | Entry | Volume | Price | Profit "
        "| Swap | Commission | Result | Comment |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for d in account.deals:
        lines.append(
            f"| {_utc(d.time_msc)} | {d.ticket} | {d.position_id or ''} | {d.symbol} "
            f"| {DEAL_TYPES.get(d.type, str(d.type))} | {ENTRIES.get(d.entry, str(d.entry))} "
            f"| {d.volume:g} | {d.price:g} | {_money(d.profit)} | {_money(d.swap)} "
            f"| {_money(d.commission)} | {_money(d.result)} | {d.comment.replace('|', '/')} |")
    return "\n".join(lines) + "\n"


def write_report(folder: str, login: Optional[int] = None,
                 output: Optional[str] = None) -> Tuple[str, str]:
    """Write ``equity.png`` and ``report.md`` for a replay's account into
    `output` (by default the replay's folder) and return their paths."""
    account = read_account(folder, login)
    if not account.deals:
        raise ReportError(f"account {account.login} has no deals")
    curves = build_curves(folder, account)
    result = figures(account.deals, curves)
    out = Path(output or folder).absolute()
    out.mkdir(parents=True, exist_ok=True)
    image = out / "equity.png"
    image.write_bytes(curves_png(curves.times, curves.balance, curves.equity,
                                 title=f"Account {account.login}", unit=account.currency))
    report = out / "report.md"
    report.write_text(markdown(account, result, curves, image.name), encoding="utf-8")
    return str(report), str(image)


def run_report_command(folder: str, login: Optional[int] = None,
                       output: Optional[str] = None) -> int:
    try:
        report, image = write_report(folder, login, output)
    except (ReportError, sqlite3.Error, OSError) as error:
        print(f"python -m quillmark report: {error}", file=sys.stderr)
        return 1
    print(report)
    print(image)
    return 0
