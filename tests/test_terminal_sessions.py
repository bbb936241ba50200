"""The bundled terminal's prices across closed sessions, and repeated bar
requests that must come out identical."""

from __future__ import annotations

import time
from pathlib import Path
from typing import Iterator

import numpy as np
import pytest

import quillmark as q
from terminal_tools import TerminalHome, connected_terminal

DAY = 86400


@pytest.fixture
def terminal(tmp_path: Path) -> Iterator[TerminalHome]:
    with connected_terminal(tmp_path, "--history-days", "120") as home:
        yield home


def closed_history(symbol: str) -> np.ndarray:
    end = int(time.time()) // DAY * DAY
    bars = q.copy_rates_range(symbol, q.TIMEFRAME_M1, end - 100 * DAY, end)
    assert bars is not None and len(bars) > 0, q.last_error()
    return bars


# A forex pair closes for the weekend; an index also closes every night.
@pytest.mark.parametrize("symbol, pause", [("EURUSD", 2 * DAY), ("US500", 3 * 3600)])
def test_closed_market_opens_where_it_closed(terminal: TerminalHome, symbol: str,
                                             pause: int) -> None:
    bars = closed_history(symbol)
    times = bars["time"].astype(np.int64)
    closes = bars["close"]
    breaks = np.nonzero(np.diff(times) >= pause)[0]
    assert len(breaks) >= 10  # enough closed sessions to judge
    gaps = np.abs(bars["open"][breaks + 1] - closes[breaks]) / closes[breaks]

    # The typical move of an hour while the market is open.
    hours = times // 3600
    starts = np.nonzero(np.diff(hours, prepend=hours[0] - 1))[0]
    ends = np.append(starts[1:], len(bars)) - 1
    full = ends - starts >= 50
    hourly = np.abs(closes[ends[full]] - bars["open"][starts[full]]) / bars["open"][starts[full]]
    typical_hour = float(np.median(hourly))

    # Two days of drift at once would be about seven typical hours.
    assert float(np.median(gaps)) < 0.5 * typical_hour, (np.median(gaps), typical_hour)
    assert float(np.max(gaps)) < 2 * typical_hour, (np.max(gaps), typical_hour)


@pytest.mark.parametrize("timeframe", [q.TIMEFRAME_M1, q.TIMEFRAME_M15, q.TIMEFRAME_H4])
def test_repeated_bar_requests_agree(terminal: TerminalHome, timeframe: int) -> None:
    # Later calls are served from what the first one made: a repeated call,
    # a shorter one and one by count all agree with it. Every bar here has
    # closed, so nothing may differ between the calls.
    end = int(time.time()) // DAY * DAY - 1
    short = q.copy_rates_range("GBPUSD", timeframe, end - 10 * DAY, end)
    wide = q.copy_rates_range("GBPUSD", timeframe, end - 60 * DAY, end)
    again = q.copy_rates_range("GBPUSD", timeframe, end - 60 * DAY, end)
    counted = q.copy_rates_from("GBPUSD", timeframe, end, 100)
    assert short is not None and wide is not None and again is not None
    assert counted is not None and len(counted) == 100
    assert np.array_equal(wide, again)
    assert np.array_equal(wide[-len(short):], short)
    assert np.array_equal(wide[-100:], counted)
