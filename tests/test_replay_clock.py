"""The terminal's virtual clock: nothing after the virtual now is served, the
market path does not depend on the speed, and stops and pending orders fire
at the tick that crossed them however far the clock moves between checks."""

from __future__ import annotations

import datetime as dt
import subprocess
import time
from pathlib import Path
from typing import Any, Iterator, List

import numpy as np
import pytest

import quillmark as mt
from quillmark import replays as rp
from terminal_tools import make_home

MONDAY_10 = "2023-03-06T10:00"
START = dt.datetime(2023, 3, 6, 10, tzinfo=dt.timezone.utc).timestamp()
NEVER = 2**31 - 1


@pytest.fixture
def folders(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Iterator[List[Path]]:
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "user-data"))
    made: List[Path] = []
    yield made
    mt.shutdown()
    for folder in made:
        rp.stop(folder)


def start_replay(folders: List[Path], tmp_path: Path, name: str, speed: float,
                 **options: Any) -> str:
    folder = tmp_path / name
    folders.append(folder)
    return rp.replay(folder, MONDAY_10, speed, **options)


def wait_for_market_time(symbol: str, until: float, real_seconds: float = 60) -> None:
    deadline = time.monotonic() + real_seconds
    while mt.symbol_info_tick(symbol).time < until:
        assert time.monotonic() < deadline, "the virtual clock is too slow"
        time.sleep(0.05)


@pytest.mark.parametrize("speed", [1, 3600, 10000])
def test_nothing_after_the_virtual_now_is_served(folders: List[Path], tmp_path: Path,
                                                 speed: float) -> None:
    began = time.time()
    assert mt.initialize(path=start_replay(folders, tmp_path, "run", speed)), mt.last_error()
    for symbol in ("BTCUSD", "EURUSD"):
        for _ in range(3):
            before = mt.symbol_info_tick(symbol)
            ticks = mt.copy_ticks_range(symbol, START - 3600, NEVER, mt.COPY_TICKS_ALL)
            from_count = mt.copy_ticks_from(symbol, START - 3600, 10**6, mt.COPY_TICKS_ALL)
            bars = mt.copy_rates_range(symbol, mt.TIMEFRAME_M1, START - 3600, NEVER)
            hours = mt.copy_rates_range(symbol, mt.TIMEFRAME_H1, START - 86400, NEVER)
            latest = mt.copy_rates_from_pos(symbol, mt.TIMEFRAME_M1, 0, 1)
            after = mt.symbol_info_tick(symbol)
            assert START - 600 <= before.time <= START + (time.time() - began + 1) * speed
            assert ticks["time_msc"].max() <= after.time_msc
            assert from_count["time_msc"].max() <= after.time_msc
            assert bars["time"].max() <= after.time - after.time % 60
            assert hours["time"].max() <= after.time
            # Position 0 is the bar that holds the virtual now.
            assert before.time - before.time % 60 <= latest["time"][0] <= after.time
            info = mt.symbol_info(symbol)
            assert before.time <= info.time <= mt.symbol_info_tick(symbol).time
            time.sleep(0.3)


def test_the_market_path_is_the_same_at_any_speed(folders: List[Path], tmp_path: Path) -> None:
    paths = [start_replay(folders, tmp_path, f"x{speed}", speed) for speed in (600, 6000)]
    seen = []
    for path in paths:
        assert mt.initialize(path=path), mt.last_error()
        wait_for_market_time("BTCUSD", START + 300)
        seen.append([mt.copy_ticks_range(symbol, START - 60, START + 240, mt.COPY_TICKS_ALL)
                     for symbol in ("BTCUSD", "EURUSD", "XAUUSD")] +
                    [mt.copy_rates_range("GBPUSD", mt.TIMEFRAME_M1, START - 3600, START + 240)])
    for slow, fast in zip(*seen):
        assert len(slow) > 10
        assert np.array_equal(slow, fast)


def test_the_clock_stops_at_its_end_and_the_terminal_keeps_serving(
        folders: List[Path], tmp_path: Path) -> None:
    path = start_replay(folders, tmp_path, "run", 10000, until="2023-03-06T11:00")
    assert mt.initialize(path=path), mt.last_error()
    wait_for_market_time("BTCUSD", START + 3600 - 60)
    time.sleep(1)  # nearly three hours more at this speed
    tick = mt.symbol_info_tick("BTCUSD")
    assert START + 3600 - 60 <= tick.time <= START + 3600
    assert mt.copy_rates_from_pos("BTCUSD", mt.TIMEFRAME_M1, 0, 1)["time"][0] <= START + 3600
    log = (tmp_path / "run" / "logs" / "terminal.log").read_text()
    assert "virtual clock stopped" in log


def deal_request(type_: int, price: float, **fields: Any) -> dict:
    return dict(action=mt.TRADE_ACTION_PENDING, symbol="BTCUSD", volume=0.01, type=type_,
                price=round(price, 2), type_filling=mt.ORDER_FILLING_RETURN, **fields)


def first_crossing(ticks: np.ndarray, since_msc: int, side: str, level: float,
                   above: bool) -> np.void:
    later = ticks[ticks["time_msc"] >= since_msc]
    crossed = later[later[side] >= level] if above else later[later[side] <= level]
    assert len(crossed), "the price never crossed the level"
    return crossed[0]


def test_triggers_fire_at_the_tick_that_crossed_them(folders: List[Path],
                                                     tmp_path: Path) -> None:
    path = start_replay(folders, tmp_path, "run", 600, deposit=100000)
    assert mt.initialize(path=path), mt.last_error()
    tick = mt.symbol_info_tick("BTCUSD")
    gap = 80.0  # dollars: crossed within an hour or so of the simulated market
    placed = [mt.order_send(deal_request(mt.ORDER_TYPE_BUY_STOP, tick.ask + gap)),
              mt.order_send(deal_request(mt.ORDER_TYPE_SELL_STOP, tick.bid - gap))]
    assert all(r.retcode == mt.TRADE_RETCODE_DONE for r in placed), placed
    bought = mt.Buy("BTCUSD", 0.01)
    assert bought.retcode == mt.TRADE_RETCODE_DONE
    bid = mt.symbol_info_tick("BTCUSD").bid
    stops = mt.order_send(dict(action=mt.TRADE_ACTION_SLTP, symbol="BTCUSD",
                               position=bought.order, sl=round(bid - gap, 2),
                               tp=round(bid + gap, 2)))
    assert stops.retcode == mt.TRADE_RETCODE_DONE, stops
    position = mt.positions_get(ticket=bought.order)[0]
    deadline = time.monotonic() + 60
    while mt.orders_total() or mt.positions_get(ticket=bought.order):
        assert time.monotonic() < deadline, "the triggers never fired"
        time.sleep(0.2)
    end = mt.symbol_info_tick("BTCUSD").time_msc
    ticks = mt.copy_ticks_range("BTCUSD", tick.time - 60, end // 1000 + 1, mt.COPY_TICKS_ALL)
    deals = mt.history_deals_get(0, NEVER)

    orders = mt.history_orders_get(0, NEVER)
    for sent in placed:
        order = next(o for o in orders if o.ticket == sent.order)
        deal = next(d for d in deals if d.order == sent.order)
        buy = order.type == mt.ORDER_TYPE_BUY_STOP
        hit = first_crossing(ticks, order.time_setup_msc, "ask" if buy else "bid",
                             order.price_open, above=buy)
        assert (deal.time_msc, deal.price) == (hit["time_msc"], hit["ask" if buy else "bid"])

    closing = next(d for d in deals if d.position_id == bought.order and
                   d.entry == mt.DEAL_ENTRY_OUT)
    later = ticks[ticks["time_msc"] >= position.time_update_msc]
    hit = later[(later["bid"] <= position.sl) | (later["bid"] >= position.tp)][0]
    assert (closing.time_msc, closing.price) == (hit["time_msc"], hit["bid"])
    assert closing.reason == (mt.DEAL_REASON_SL if hit["bid"] <= position.sl
                              else mt.DEAL_REASON_TP)


@pytest.mark.parametrize("options", [
    ["--start", "2023-02-30"], ["--start", "2023-03-01T24:00"], ["--start", "1.3.2023"],
    ["--start", "2023-03-01T09"], ["--start", "2023-03-01", "--speed", "0.5"],
    ["--start", "2023-03-01", "--speed", "fast"], ["--speed", "60"],
    ["--start", "2023-03-02", "--until", "2023-03-01"],
])
def test_bad_clock_options_start_nothing(tmp_path: Path, options: List[str]) -> None:
    # A refused option exits before the program takes its pipe or folder.
    result = subprocess.run([mt.terminal_path(), *options], capture_output=True, text=True,
                            timeout=30, env={"XDG_DATA_HOME": str(tmp_path), "PATH": ""})
    assert result.returncode == 2 and "usage" in result.stderr, result.stderr
    assert list(tmp_path.iterdir()) == []


def test_imported_ticks_are_what_replays(tmp_path: Path) -> None:
    home = make_home(tmp_path)
    base = 1735790400  # 2025-01-02 04:00 UTC
    ticks_csv = tmp_path / "gbpusd.csv"
    ticks_csv.write_text("2025-01-02 04:00:00.000,1.25000,1.25010\n"
                         "2025-01-02 04:00:30.500,1.25020,1.25030\n"
                         "2025-01-02 04:01:00.000,1.24990,1.25000\n"
                         "2025-01-02 04:02:00.000,1.25050,1.25060\n")
    try:
        home.start("--start", "2025-01-02T04:00", "--speed", "60",
                   "--import-ticks", f"GBPUSD={ticks_csv}")
        assert mt.initialize(path=home.exe), mt.last_error()
        seen = []
        deadline = time.monotonic() + 30
        while not seen or seen[-1][0] < base * 1000 + 120000:
            assert time.monotonic() < deadline, "the imported ticks never all came"
            tick = mt.symbol_info_tick("GBPUSD")
            served = mt.copy_ticks_range("GBPUSD", base - 60, base + 600, mt.COPY_TICKS_ALL)
            # The virtual clock runs on between the calls (a minute a second).
            after = mt.symbol_info_tick("GBPUSD")
            assert tick.time_msc <= served["time_msc"][-1] <= after.time_msc
            if not seen or seen[-1][0] != tick.time_msc:
                seen.append((tick.time_msc, tick.bid))
            time.sleep(0.05)
        assert seen == [(base * 1000, 1.25), (base * 1000 + 30500, 1.2502),
                        (base * 1000 + 60000, 1.2499), (base * 1000 + 120000, 1.2505)]
    finally:
        mt.shutdown()
        home.stop_all()


def test_swaps_are_charged_at_the_virtual_midnight(folders: List[Path], tmp_path: Path) -> None:
    folder = tmp_path / "run"
    folders.append(folder)
    path = rp.replay(folder, "2023-03-06T23:50", 600, deposit=100000)
    midnight = START + 14 * 3600
    assert mt.initialize(path=path), mt.last_error()
    bought = mt.Buy("BTCUSD", 0.1)
    assert bought.retcode == mt.TRADE_RETCODE_DONE
    position = mt.positions_get(ticket=bought.order)[0]
    assert midnight - 600 <= position.time < midnight and position.swap == 0
    wait_for_market_time("BTCUSD", midnight + 60)
    position = mt.positions_get(ticket=bought.order)[0]
    info = mt.symbol_info("BTCUSD")
    # A yearly rate in percent of the position's value, for one day of 360.
    expected = info.swap_long / 100 / 360 * 0.1 * info.trade_contract_size * info.bid
    assert position.swap == pytest.approx(expected, rel=0.05)
    assert position.swap < 0


@pytest.mark.parametrize("wait, retcode", [(0.05, mt.TRADE_RETCODE_DONE),
                                           (1.0, mt.TRADE_RETCODE_REQUOTE)])
def test_a_deal_fills_at_a_quote_of_the_last_moments(folders: List[Path], tmp_path: Path,
                                                     wait: float, retcode: int) -> None:
    assert mt.initialize(path=start_replay(folders, tmp_path, "run", 10000)), mt.last_error()
    quoted = mt.symbol_info_tick("BTCUSD")
    time.sleep(wait)  # 500 or 10,000 seconds of market
    assert mt.symbol_info_tick("BTCUSD").ask != quoted.ask
    result = mt.order_send(dict(action=mt.TRADE_ACTION_DEAL, symbol="BTCUSD", volume=0.01,
                                type=mt.ORDER_TYPE_BUY, price=quoted.ask, deviation=0,
                                type_filling=mt.ORDER_FILLING_IOC))
    assert result.retcode == retcode, result
    if retcode == mt.TRADE_RETCODE_DONE:
        assert result.price == quoted.ask
        assert mt.positions_get()[0].price_open == quoted.ask
