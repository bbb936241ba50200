"""How closely the bundled terminal's crosses follow their legs: EURGBP against
EURUSD / GBPUSD, at minute closes and tick by tick.

    python bench/cross_gap.py [--days N]

It starts a private copy of the installed terminal with its default history
and prints the gaps in points. Nothing here asserts a figure; the tests keep
looser bounds.
"""

from __future__ import annotations

import argparse
import sys
import time
from typing import Optional, Sequence, Tuple

import numpy as np

import quillmark as mt
from private_terminal import private_terminal

DAY = 86400
POINT = 1e-5  # of EURGBP


def got(array: Optional[np.ndarray], call: str) -> np.ndarray:
    if array is None:
        raise RuntimeError(f"{call} failed: {mt.last_error()}")
    return array


def minute_gaps(start: int, end: int) -> np.ndarray:
    bars = {s: got(mt.copy_rates_range(s, mt.TIMEFRAME_M1, start, end), "copy_rates_range")
            for s in ("EURGBP", "EURUSD", "GBPUSD")}
    times = np.intersect1d(np.intersect1d(bars["EURUSD"]["time"], bars["GBPUSD"]["time"]),
                           bars["EURGBP"]["time"])

    def closes(symbol: str) -> np.ndarray:
        own = bars[symbol]
        return own["close"][np.searchsorted(own["time"], times)]

    return np.abs(closes("EURGBP") - closes("EURUSD") / closes("GBPUSD")) / POINT


def tick_gaps(start: int, end: int) -> Tuple[np.ndarray, np.ndarray]:
    """Each EURGBP tick against the legs' latest quotes: the gap of the bids,
    and how far it lies outside the bounds the legs' bids and asks set, in
    points (not above zero when inside)."""
    ticks = {s: got(mt.copy_ticks_range(s, start, end, mt.COPY_TICKS_ALL), "copy_ticks_range")
             for s in ("EURGBP", "EURUSD", "GBPUSD")}
    cross, eur, gbp = ticks["EURGBP"], ticks["EURUSD"], ticks["GBPUSD"]
    i = np.searchsorted(eur["time_msc"], cross["time_msc"], side="right") - 1
    j = np.searchsorted(gbp["time_msc"], cross["time_msc"], side="right") - 1
    seen = (i >= 0) & (j >= 0)
    cross, i, j = cross[seen], i[seen], j[seen]
    gap = np.abs(cross["bid"] - eur["bid"][i] / gbp["bid"][j]) / POINT
    beyond = np.maximum(cross["bid"] - eur["ask"][i] / gbp["bid"][j],
                        eur["bid"][i] / gbp["ask"][j] - cross["ask"]) / POINT
    return gap, beyond


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--days", type=int, default=20, help="days of history to compare")
    args = parser.parse_args(argv)
    with private_terminal("market") as terminal:
        try:
            if not mt.initialize(path=terminal.exe):
                raise RuntimeError(f"initialize failed: {mt.last_error()}")
            end = int(time.time()) // DAY * DAY - 1
            start = end + 1 - args.days * DAY
            minutes = minute_gaps(start, end)
            gap, beyond = tick_gaps(start, end)
        finally:
            mt.shutdown()
    print(f"EURGBP against EURUSD / GBPUSD over {args.days} days, in points:")
    print(f"  {len(minutes):,} minute closes: median {np.median(minutes):.2f}, "
          f"99th percentile {np.percentile(minutes, 99):.1f}, largest {minutes.max():.1f}")
    print(f"  {len(gap):,} ticks against the legs' latest: median {np.median(gap):.2f}, "
          f"99th percentile {np.percentile(gap, 99):.1f}; outside the legs' bid/ask bounds: "
          f"{(beyond > 0).mean() * 100:.2f} %, by at most {beyond.max():.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
