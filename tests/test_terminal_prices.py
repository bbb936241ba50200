"""The bundled terminal's prices as a trader judges them: where they trade over
the years, how instruments move together, crosses against their legs, and
history served whole or refused, never cut short."""

from __future__ import annotations

import os
import sys
import time
from pathlib import Path
from typing import Iterator

import numpy as np
import pytest

import quillmark as q
from process_memory import process_memory_bytes
from terminal_tools import TerminalHome, connected_terminal
from test_terminal_market import aggregate

BENCH = Path(__file__).resolve().parents[1] / "bench"

DAY = 86400
START_2010 = 1262304000  # 2010-01-01 00:00 UTC, a Friday


@pytest.fixture(scope="module")
def terminal(tmp_path_factory: pytest.TempPathFactory) -> Iterator[TerminalHome]:
    with connected_terminal(tmp_path_factory.mktemp("prices")) as home:  # the default history
        yield home


def last_closed_day() -> int:
    return int(time.time()) // DAY * DAY


# Roughly where each has traded in recent years, a little wider.
BANDS = [
    ("EURUSD", 1.00, 1.28), ("GBPUSD", 1.12, 1.45), ("USDJPY", 120, 175),
    ("EURGBP", 0.78, 0.98), ("XAUUSD", 1700, 2900), ("US500", 3800, 6600),
    ("BTCUSD", 25000, 120000), ("XTIUSD", 45, 120),
]


@pytest.mark.parametrize("symbol, low, high", BANDS)
def test_history_from_2010_stays_in_a_believable_band(terminal: TerminalHome, symbol: str,
                                                       low: float, high: float) -> None:
    days = q.copy_rates_range(symbol, q.TIMEFRAME_D1, 0, int(time.time()))
    assert days is not None and len(days) > 4000, q.last_error()
    assert days["time"][0] == START_2010
    assert low < days["low"].min() and days["high"].max() < high
    # It moves, and not only within a day: the band is used.
    assert days["close"].max() / days["close"].min() > 1.08
    assert np.all(days["low"] <= np.minimum(days["open"], days["close"]))
    assert np.all(days["high"] >= np.maximum(days["open"], days["close"]))


def closes(symbol: str, start: int, end: int) -> dict:
    bars = q.copy_rates_range(symbol, q.TIMEFRAME_M1, start, end)
    return dict(zip(bars["time"].tolist(), bars["close"].tolist()))


@pytest.mark.parametrize("cross, first, second, divide", [
    ("EURGBP", "EURUSD", "GBPUSD", True),
    ("EURJPY", "EURUSD", "USDJPY", False),
    ("AUDNZD", "AUDUSD", "NZDUSD", True),
    ("CHFJPY", "USDJPY", "USDCHF", True),
])
def test_crosses_follow_their_legs(terminal: TerminalHome, cross: str, first: str, second: str,
                                   divide: bool) -> None:
    end = last_closed_day() - 1
    series = [closes(s, end + 1 - 5 * DAY, end) for s in (cross, first, second)]
    times = sorted(set(series[0]) & set(series[1]) & set(series[2]))
    assert len(times) > 2000
    got = np.array([series[0][t] for t in times])
    a = np.array([series[1][t] for t in times])
    b = np.array([series[2][t] for t in times])
    implied = a / b if divide else a * b
    info = q.symbol_info(cross)
    gap = np.abs(got - implied) / info.point
    # Rounding each of the three to whole points leaves a point or two; a
    # cross that made its hour's high or low on its own would be far off.
    assert np.median(gap) <= 2 and gap.max() < 5, (np.median(gap), gap.max())


@pytest.mark.skipif(sys.platform == "win32", reason="the benchmark harness it shares is POSIX")
def test_cross_ticks_stay_within_the_legs_quotes(terminal: TerminalHome) -> None:
    sys.path.insert(0, str(BENCH))
    from cross_gap import tick_gaps

    # Tick by tick, against the legs' latest quotes: EURGBP bought at its ask
    # and sold through the legs (or the other way round) must not pay.
    end = last_closed_day() - 1
    while time.gmtime(end).tm_wday >= 5:
        end -= DAY
    gap, beyond = tick_gaps(end + 1 - DAY, end)
    assert len(gap) > 5000
    # What is left outside comes from a leg's quote being some seconds old.
    outside = (beyond > 0).mean()
    assert outside < 0.01 and beyond.max() < q.symbol_info("EURGBP").spread, (outside, beyond.max())
    assert np.median(gap) <= 3, np.median(gap)


def returns(symbol: str, start: int, end: int) -> dict:
    bars = q.copy_rates_range(symbol, q.TIMEFRAME_M5, start, end)
    moves = np.diff(np.log(bars["close"]))
    return dict(zip(bars["time"][1:].tolist(), moves.tolist()))


@pytest.mark.parametrize("one, other, low, high", [
    ("EURUSD", "GBPUSD", 0.5, 1.0),     # the dollar and Europe
    ("EURUSD", "USDCHF", -1.0, -0.4),   # the dollar on either side
    ("AUDUSD", "NZDUSD", 0.5, 1.0),
    ("US500", "NAS100", 0.35, 1.0),     # risk appetite
    ("EURUSD", "BTCUSD", -0.2, 0.2),    # next to nothing in common
])
def test_instruments_that_share_a_factor_move_together(terminal: TerminalHome, one: str,
                                                       other: str, low: float,
                                                       high: float) -> None:
    end = last_closed_day() - 1
    a, b = (returns(s, end + 1 - 20 * DAY, end) for s in (one, other))
    times = sorted(set(a) & set(b))
    assert len(times) > 1000
    correlation = np.corrcoef([a[t] for t in times], [b[t] for t in times])[0, 1]
    assert low <= correlation <= high, correlation


@pytest.mark.parametrize("symbol", ["US500", "BTCUSD", "EURUSD"])  # three kinds of sessions
@pytest.mark.parametrize("timeframe, seconds", [(q.TIMEFRAME_H1, 3600), (q.TIMEFRAME_H4, 14400),
                                                (q.TIMEFRAME_D1, DAY)])
def test_hours_and_days_agree_with_their_minutes(terminal: TerminalHome, symbol: str,
                                                 timeframe: int, seconds: int) -> None:
    # Long bars of past days are made without their minutes; they must still
    # be exactly the minutes added up.
    end = last_closed_day() - 1
    start = end + 1 - 9 * DAY
    m1 = q.copy_rates_range(symbol, q.TIMEFRAME_M1, start, end)
    expected = aggregate(m1, m1["time"] // seconds * seconds)
    got = [tuple(b) for b in q.copy_rates_range(symbol, timeframe, start, end)]
    assert got == expected


def test_ticks_of_a_long_range_come_whole(terminal: TerminalHome) -> None:
    # Nine months of a pair is more ticks than a small fixed cap would allow.
    end = last_closed_day() - 5 * DAY + 12 * 3600
    while time.gmtime(end).tm_wday >= 5:
        end -= DAY
    start = end - 270 * DAY
    ticks = q.copy_ticks_range("EURAUD", start, end, q.COPY_TICKS_ALL)
    assert ticks is not None, q.last_error()
    assert q.last_error()[0] == 1
    assert len(ticks) > 2_000_000
    assert ticks["time"][0] < start + 3 * DAY and ticks["time"][-1] >= end - 60
    minutes = q.copy_rates_range("EURAUD", q.TIMEFRAME_M1, start, end - 60)
    assert np.count_nonzero(ticks["time"] < end) == minutes["tick_volume"].sum()


def test_more_than_a_reply_may_carry_fails_instead_of_being_cut(terminal: TerminalHome) -> None:
    limit = q.terminal_info().maxbars
    assert limit == 5_000_000
    # Sixteen years of minutes of a market that never closes are more.
    assert q.copy_rates_range("BTCUSD", q.TIMEFRAME_M1, 0, int(time.time())) is None
    assert q.last_error()[0] == -3
    assert q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_M1, 0, limit + 1) is None
    assert q.last_error()[0] == -3
    assert q.copy_ticks_from("BTCUSD", START_2010, limit + 1, q.COPY_TICKS_ALL) is None
    assert q.last_error()[0] == -3
    # Sixteen years of a pair's ticks are about 25 million: refused without
    # the terminal holding them.
    assert q.copy_ticks_range("EURUSD", START_2010, int(time.time()), q.COPY_TICKS_ALL) is None
    assert q.last_error()[0] == -3
    if sys.platform.startswith("linux") and os.environ.get("QUILLMARK_SANITIZED") != "1":
        # One reply at the limit (300 MB) and the kept bars (256 MB) at most.
        assert process_memory_bytes(terminal.running_pids()[0], "VmHWM") < 1_200_000_000
    # Asking for more than there is still gives all there is.
    days = q.copy_rates_from_pos("EURUSD", q.TIMEFRAME_D1, 0, limit + 1)
    assert days is not None and days["time"][0] == START_2010
    skipped = q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_M1, 4_000_000, 10)
    assert skipped is not None and len(skipped) == 10
