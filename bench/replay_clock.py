"""What a replay's clock costs the terminal: its CPU share while it walks
every tick of the symbols that hold pending orders and stops, and the time of
a symbol_info_tick and an order_check from a script, at several speeds.

    python bench/replay_clock.py [SPEED ...]      (default: 1 3600 10000)

Each speed gets a replay folder of its own in a temporary folder, with two
pending orders and a position with SL and TP on BTCUSD (the busiest symbol)
placed far enough away never to fire. Compare the rows of one run: the
machine is shared.
"""

from __future__ import annotations

import os
import statistics
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, List

import quillmark as mt
from quillmark import replays

SECONDS = 5.0


def cpu_seconds(pid: int) -> float:
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def median_us(call: Callable[[], object], rounds: int = 200) -> float:
    times = []
    for _ in range(rounds):
        began = time.perf_counter()
        call()
        times.append(time.perf_counter() - began)
    return statistics.median(times) * 1e6


def place_triggers() -> None:
    tick = mt.symbol_info_tick("BTCUSD")
    for type_, price in ((mt.ORDER_TYPE_BUY_STOP, tick.ask * 2), (mt.ORDER_TYPE_SELL_STOP,
                                                                    tick.bid / 2)):
        mt.order_send(dict(action=mt.TRADE_ACTION_PENDING, symbol="BTCUSD", volume=0.01,
                           type=type_, price=round(price, 2),
                           type_filling=mt.ORDER_FILLING_RETURN))
    bought = mt.Buy("BTCUSD", 0.01)
    mt.order_send(dict(action=mt.TRADE_ACTION_SLTP, symbol="BTCUSD", position=bought.order,
                       sl=round(tick.bid / 2, 2), tp=round(tick.bid * 2, 2)))
    assert mt.orders_total() == 2 and mt.positions_get(ticket=bought.order)[0].sl > 0


def main(speeds: List[float]) -> None:
    check = dict(action=mt.TRADE_ACTION_DEAL, symbol="BTCUSD", volume=0.01,
                 type=mt.ORDER_TYPE_BUY, type_filling=mt.ORDER_FILLING_IOC)
    with tempfile.TemporaryDirectory() as scratch:
        os.environ["XDG_DATA_HOME"] = scratch
        print(f"{'speed':>8} {'terminal CPU %':>15} {'symbol_info_tick (us)':>22} "
              f"{'order_check (us)':>17}")
        for speed in speeds:
            folder = Path(scratch) / f"run-{speed:g}"
            path = replays.replay(folder, "2023-03-06T10:00", speed, deposit=100000)
            try:
                assert mt.initialize(path=path), mt.last_error()
                place_triggers()
                pid = replays.terminal_pids(path)[0]
                used = cpu_seconds(pid)
                time.sleep(SECONDS)
                share = (cpu_seconds(pid) - used) / SECONDS * 100
                tick_us = median_us(lambda: mt.symbol_info_tick("BTCUSD"))
                check_us = median_us(lambda: mt.order_check(check))
                print(f"{speed:>8g} {share:>15.1f} {tick_us:>22.1f} {check_us:>17.1f}")
            finally:
                mt.shutdown()
                replays.stop(folder)


if __name__ == "__main__":
    main([float(a) for a in sys.argv[1:]] or [1, 3600, 10000])
