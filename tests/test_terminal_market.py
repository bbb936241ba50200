"""The bundled terminal's market end to end: catalogue, prices, bars of every
timeframe, ticks, imported history and depth of market."""

from __future__ import annotations

import time
from pathlib import Path
from typing import List

import numpy as np
import pytest

import quillmark as q
from terminal_tools import TerminalHome, set_price

DAY = 86400


@pytest.fixture
def terminal(home: TerminalHome) -> TerminalHome:
    home.start("--test-controls", "--history-days", "120")
    assert q.initialize(path=home.exe), q.last_error()
    return home


def last_closed_day() -> int:
    return int(time.time()) // DAY * DAY


def test_catalogue_is_complete_and_consistent(terminal: TerminalHome) -> None:
    symbols = q.symbols_get()
    assert len(symbols) == q.symbols_total() >= 40
    names = [s.name for s in symbols]
    assert len(set(names)) == len(names)
    folders = {s.path.split("\\")[0] for s in symbols}
    assert folders >= {"Forex", "Metals", "Indices", "Energies", "Crypto"}
    for s in symbols:
        assert s.path.endswith("\\" + s.name) and s.description and s.currency_profit
        assert s.point == pytest.approx(10.0 ** -s.digits)
        assert s.trade_tick_size >= s.point and s.trade_contract_size > 0
        assert 0 < s.volume_min <= s.volume_max and s.volume_step > 0
        assert round(s.volume_max / s.volume_step, 6).is_integer()
        assert 0 < s.bid <= s.ask
        assert s.spread == round((s.ask - s.bid) / s.point)
        assert s.bidlow <= s.bid <= s.bidhigh and s.asklow <= s.ask <= s.askhigh
        assert s.select == s.visible
        tick = q.symbol_info_tick(s.name)
        assert tick.time >= s.time
    eurgbp = q.symbol_info("EURGBP")
    gbpusd = q.symbol_info("GBPUSD")
    # Tick values are in dollars, converted through the catalogue's own rates.
    assert eurgbp.trade_tick_value == pytest.approx(
        eurgbp.trade_tick_size * eurgbp.trade_contract_size * gbpusd.bid, rel=1e-3)


def test_group_selection_uses_masks(terminal: TerminalHome) -> None:
    got = {s.name for s in q.symbols_get(group="EUR*,!EURUSD")}
    assert got and all(n.startswith("EUR") for n in got) and "EURUSD" not in got
    assert q.symbols_get(group="NOSUCH*") == ()


def test_session_fields_agree_with_the_days_ticks(terminal: TerminalHome) -> None:
    # Hold the price still so that nothing moves between the two questions.
    now = q.symbol_info_tick("BTCUSD")
    assert set_price(terminal, "BTCUSD", now.bid, now.ask) == 0
    info = q.symbol_info("BTCUSD")
    day = info.time // DAY * DAY
    ticks = q.copy_ticks_range("BTCUSD", day, info.time + 1, q.COPY_TICKS_ALL)
    assert len(ticks) > 0
    assert info.session_open == ticks["bid"][0]
    assert info.bidhigh == ticks["bid"].max() and info.bidlow == ticks["bid"].min()
    assert info.askhigh == ticks["ask"].max() and info.asklow == ticks["ask"].min()
    deals = ticks[(ticks["flags"] & q.TICK_FLAG_LAST) != 0]
    assert info.session_deals == len(deals)
    assert info.session_volume == pytest.approx(deals["volume_real"].sum())
    last_minute = q.copy_rates_range("BTCUSD", q.TIMEFRAME_M1, day - 60, day - 60)
    assert info.session_close == last_minute["close"][0]


def aggregate(m1: np.ndarray, starts: np.ndarray) -> List[tuple]:
    """Bars of a longer timeframe made by hand from M1 bars (in time order)."""
    first = np.flatnonzero(np.r_[True, starts[1:] != starts[:-1]])
    last = np.r_[first[1:] - 1, len(m1) - 1]
    columns = zip(starts[first], m1["open"][first], np.maximum.reduceat(m1["high"], first),
                  np.minimum.reduceat(m1["low"], first), m1["close"][last],
                  np.add.reduceat(m1["tick_volume"], first), np.minimum.reduceat(m1["spread"], first),
                  np.add.reduceat(m1["real_volume"], first))
    return [tuple(row) for row in columns]


def month_starts(times: np.ndarray) -> np.ndarray:
    months = times.astype("datetime64[s]").astype("datetime64[M]")
    return months.astype("datetime64[s]").astype(np.int64)


TIMEFRAMES = [
    (q.TIMEFRAME_M5, 300), (q.TIMEFRAME_M12, 720), (q.TIMEFRAME_M30, 1800),
    (q.TIMEFRAME_H1, 3600), (q.TIMEFRAME_H3, 10800), (q.TIMEFRAME_H12, 43200),
    (q.TIMEFRAME_D1, DAY), (q.TIMEFRAME_W1, 7 * DAY), (q.TIMEFRAME_MN1, None),
]


@pytest.mark.parametrize("timeframe, seconds", TIMEFRAMES)
def test_every_timeframe_agrees_with_m1(terminal: TerminalHome, timeframe: int,
                                        seconds: int) -> None:
    symbol = "XAUUSD"  # weekdays only: the gaps must be skipped alike
    end = last_closed_day() - 1
    start = end + 1 - 100 * DAY
    m1 = q.copy_rates_range(symbol, q.TIMEFRAME_M1, start, end)
    assert len(m1) > 50000
    if seconds is None:
        starts = month_starts(m1["time"])
    elif timeframe == q.TIMEFRAME_W1:
        starts = (m1["time"] - 3 * DAY) // seconds * seconds + 3 * DAY  # weeks open on Sunday
    else:
        starts = m1["time"] // seconds * seconds
    expected = aggregate(m1, starts)
    got = q.copy_rates_range(symbol, timeframe, start, end)
    # Only bars that lie wholly inside the M1 window can be rebuilt.
    inside = [b for b in expected if b[0] >= start]
    got = [tuple(b) for b in got if b["time"] >= start]
    if seconds is not None:
        inside = [b for b in inside if b[0] + seconds <= end + 1]
        got = [b for b in got if b[0] + seconds <= end + 1]
    else:
        inside, got = inside[:-1], got[:-1]  # the last month runs past the window
    assert got == inside


def test_ticks_lie_within_their_minute_bars(terminal: TerminalHome) -> None:
    start = last_closed_day() - DAY + 3600
    ticks = q.copy_ticks_range("ETHUSD", start, start + 7260, q.COPY_TICKS_ALL)
    bars = q.copy_rates_range("ETHUSD", q.TIMEFRAME_M1, start, start + 7200)
    assert len(bars) == 121 and len(ticks) >= 121
    minute = ticks["time_msc"] // 60000 * 60
    assert np.all(np.diff(ticks["time_msc"]) > 0)
    for bar in bars:
        own = ticks[minute == bar["time"]]
        assert len(own) == bar["tick_volume"]
        assert own["bid"][0] == bar["open"] and own["bid"][-1] == bar["close"]
        assert own["bid"].max() == bar["high"] and own["bid"].min() == bar["low"]
        assert int(own["volume"].sum()) == bar["real_volume"]
    info = ticks[(ticks["flags"] & (q.TICK_FLAG_BID | q.TICK_FLAG_ASK)) != 0]
    trade = ticks[(ticks["flags"] & (q.TICK_FLAG_LAST | q.TICK_FLAG_VOLUME)) != 0]
    np.testing.assert_array_equal(
        q.copy_ticks_range("ETHUSD", start, start + 7260, q.COPY_TICKS_INFO), info)
    np.testing.assert_array_equal(
        q.copy_ticks_range("ETHUSD", start, start + 7260, q.COPY_TICKS_TRADE), trade)
    assert 0 < len(trade) < len(ticks)


def test_positions_and_boundaries_of_bar_queries(terminal: TerminalHome) -> None:
    current = q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_M1, 0, 1)[0]
    assert current["time"] == q.symbol_info_tick("BTCUSD").time // 60 * 60
    last10 = q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_M1, 0, 10)
    assert last10[-1]["time"] == current["time"] and np.all(np.diff(last10["time"]) == 60)
    shifted = q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_M1, 3, 7)
    np.testing.assert_array_equal(shifted, last10[:7])
    t0, t1 = int(last10[2]["time"]), int(last10[5]["time"])
    np.testing.assert_array_equal(q.copy_rates_range("BTCUSD", q.TIMEFRAME_M1, t0, t1),
                                  last10[2:6])
    np.testing.assert_array_equal(q.copy_rates_range("BTCUSD", q.TIMEFRAME_M1, t0 + 1, t1 - 1),
                                  last10[3:5])
    np.testing.assert_array_equal(q.copy_rates_from("BTCUSD", q.TIMEFRAME_M1, t1, 3),
                                  last10[3:6])
    # The history ends somewhere: asking for more gives what there is.
    everything = q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_D1, 0, 100000)
    assert 120 <= len(everything) <= 122
    assert len(q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_D1, 200, 10)) == 0


@pytest.mark.parametrize(
    "call, code",
    [
        (lambda: q.copy_rates_from_pos("EURUSD", 7, 0, 10), -2),
        (lambda: q.copy_rates_from_pos("EURUSD", q.TIMEFRAME_M1, -1, 10), -2),
        (lambda: q.copy_rates_from_pos("NOSUCH", q.TIMEFRAME_M1, 0, 10), -4),
        (lambda: q.copy_ticks_from("EURUSD", 0, 10, 5), -2),
        (lambda: q.copy_ticks_from("NOSUCH", 0, 10, q.COPY_TICKS_ALL), -4),
        (lambda: q.symbol_info("NOSUCH"), -4),
        (lambda: q.symbol_info_tick("NOSUCH"), -4),
    ],
)
def test_bad_market_requests(terminal: TerminalHome, call, code: int) -> None:
    assert call() is None
    assert q.last_error()[0] == code


def test_forced_price_holds_and_releases(terminal: TerminalHome) -> None:
    model = q.symbol_info_tick("BTCUSD")
    assert set_price(terminal, "BTCUSD", 12345.67, 12346.67) == 0
    for _ in range(3):
        tick = q.symbol_info_tick("BTCUSD")
        assert (tick.bid, tick.ask) == (12345.67, 12346.67)
        time.sleep(0.05)
    assert q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_M1, 0, 1)[0]["close"] == 12345.67
    assert set_price(terminal, "BTCUSD", 2.0, 1.0) == -2
    assert set_price(terminal, "NOSUCH", 1.0, 1.1) == -4
    # Released, the symbol is back at its model's price at once.
    assert set_price(terminal, "BTCUSD", 0, 0) == 0
    assert q.symbol_info_tick("BTCUSD").bid == pytest.approx(model.bid, rel=0.01)


def test_ticks_keep_coming_in_real_time(terminal: TerminalHome) -> None:
    coins = ["BTCUSD", "ETHUSD", "LTCUSD", "SOLUSD", "XRPUSD", "ADAUSD", "DOGEUSD"]
    seen = {c: q.symbol_info_tick(c).time_msc for c in coins}
    now_ms = time.time() * 1000
    assert all(now_ms - 15 * 60000 < t <= now_ms + 1 for t in seen.values())
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if any(q.symbol_info_tick(c).time_msc > seen[c] for c in coins):
            return
        time.sleep(0.2)
    pytest.fail("no new tick in 20 seconds")


def test_symbol_select_shows_and_hides(terminal: TerminalHome) -> None:
    assert not q.symbol_info("NZDUSD").select
    assert q.symbol_select("NZDUSD", True)
    assert q.symbol_info("NZDUSD").visible
    assert q.symbol_select("NZDUSD", False)
    assert not q.symbol_info("NZDUSD").select
    assert not q.symbol_select("NOSUCH", True) and q.last_error()[0] == -4


def test_depth_of_market_moves_with_price(terminal: TerminalHome) -> None:
    assert q.market_book_get("EURUSD") is None
    assert not q.market_book_add("NOSUCH")
    assert q.market_book_add("EURUSD")
    set_price(terminal, "EURUSD", 1.10000, 1.10010)
    book = q.market_book_get("EURUSD")
    sells = [e for e in book if e.type == q.BOOK_TYPE_SELL]
    buys = [e for e in book if e.type == q.BOOK_TYPE_BUY]
    assert len(sells) == len(buys) == q.symbol_info("EURUSD").ticks_bookdepth
    assert book == tuple(sells + buys)
    prices = [e.price for e in book]
    assert prices == sorted(prices, reverse=True)
    assert sells[-1].price == 1.10010 and buys[0].price == 1.10000
    assert all(e.volume_dbl > 0 for e in book)
    set_price(terminal, "EURUSD", 1.20000, 1.20010)
    assert q.market_book_get("EURUSD")[len(sells)].price == 1.20000
    assert q.market_book_release("EURUSD")
    assert not q.market_book_release("EURUSD")
    assert q.market_book_get("EURUSD") is None


def test_million_minute_bars(home: TerminalHome) -> None:
    home.start()
    assert q.initialize(path=home.exe)
    bars = q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_M1, 0, 1_000_000)
    assert len(bars) == 1_000_000
    assert np.all(np.diff(bars["time"]) > 0)
    assert np.all(bars["low"] <= np.minimum(bars["open"], bars["close"]))
    # How fast this is served is measured by bench/run.py, not asserted here.


def test_imported_history_replaces_the_model(home: TerminalHome, tmp_path: Path) -> None:
    base = 1735790400  # 2025-01-02 04:00 UTC
    bars_csv = tmp_path / "eurusd.csv"
    rows = ["time,open,high,low,close,tick_volume,spread,real_volume"]
    for i in range(180):
        o = 1.03 + 0.0001 * (i % 17)
        rows.append(f"{base + 60 * i},{o:.5f},{o + 0.0003:.5f},{o - 0.0002:.5f},"
                    f"{o + 0.0001:.5f},{10 + i},{8},{0}")
    bars_csv.write_text("\n".join(rows) + "\n")
    ticks_csv = tmp_path / "gbpusd.csv"
    ticks_csv.write_text("2025-01-02 04:00:00.000,1.25000,1.25010\n"
                         "2025-01-02 04:00:30.500,1.25020,1.25030,0,0\n"
                         "2025-01-02 04:01:00.000,1.24990,1.25000\n"
                         "2025-01-02 04:02:59.999,1.25050,1.25060\n")
    home.start("--import-bars", f"EURUSD={bars_csv}", "--import-ticks", f"GBPUSD={ticks_csv}")
    assert q.initialize(path=home.exe)

    m1 = q.copy_rates_range("EURUSD", q.TIMEFRAME_M1, base, base + 3 * 3600)
    assert len(m1) == 180 and m1["time"][0] == base and m1["tick_volume"][5] == 15
    h1 = q.copy_rates_range("EURUSD", q.TIMEFRAME_H1, base, base + 3 * 3600)
    assert list(h1["time"]) == [base, base + 3600, base + 7200]
    assert h1["tick_volume"][0] == sum(range(10, 70))
    assert h1["high"][1] == m1["high"][60:120].max()
    ticks = q.copy_ticks_range("EURUSD", base, base + 120, q.COPY_TICKS_ALL)
    assert len(ticks) > 0 and all(ticks["bid"] >= m1["low"][0]) and ticks["bid"][0] == m1["open"][0]
    assert q.symbol_info_tick("EURUSD").bid == m1["close"][-1]

    ticks = q.copy_ticks_range("GBPUSD", base, base + 180, q.COPY_TICKS_ALL)
    assert list(ticks["time_msc"]) == [base * 1000, base * 1000 + 30500, base * 1000 + 60000,
                                       base * 1000 + 179999]
    # Both ends of a range count; the module sends whole seconds.
    assert len(q.copy_ticks_range("GBPUSD", base, base + 60, q.COPY_TICKS_ALL)) == 3
    assert len(q.copy_ticks_range("GBPUSD", base + 1, base + 59, q.COPY_TICKS_ALL)) == 1
    assert len(q.copy_ticks_from("GBPUSD", base + 60, 10, q.COPY_TICKS_ALL)) == 2
    bars = q.copy_rates_range("GBPUSD", q.TIMEFRAME_M1, base, base + 600)
    assert [tuple(b)[:5] for b in bars] == [(base, 1.25, 1.2502, 1.25, 1.2502),
                                            (base + 60, 1.2499, 1.2499, 1.2499, 1.2499),
                                            (base + 120, 1.2505, 1.2505, 1.2505, 1.2505)]


def test_broken_import_is_refused(home: TerminalHome, tmp_path: Path) -> None:
    bad = tmp_path / "bad.csv"
    bad.write_text("1735790400,1.1,1.0,1.2,1.1\n")  # high below low
    process = home.start("--import-bars", f"EURUSD={bad}", wait=False)
    assert process.wait(timeout=10) != 0
    assert b"bad.csv:1" in process.stderr.read()


def test_history_survives_restart_and_follows_the_seed(home: TerminalHome) -> None:
    day = last_closed_day() - 2 * DAY

    def bars_of_day(*options: str) -> np.ndarray:
        home.start(*options)
        assert q.initialize(path=home.exe)
        bars = q.copy_rates_range("ETHUSD", q.TIMEFRAME_M5, day, day + DAY - 1)
        q.shutdown()
        home.stop_all()
        return bars

    first = bars_of_day("--seed", "5")
    assert len(first) == 288
    np.testing.assert_array_equal(bars_of_day("--seed", "5"), first)
    assert not np.array_equal(bars_of_day("--seed", "6")["close"], first["close"])


def test_catalogue_can_be_enlarged(home: TerminalHome) -> None:
    home.start("--symbols", "100", "--history-days", "3")
    assert q.initialize(path=home.exe)
    assert q.symbols_total() == 100
    generated = q.symbols_get(group="SYN*")
    assert len(generated) == 58
    assert generated[0].path == "Synthetic\\Generated\\SYN00001" and generated[0].bid > 0
    # Three days of history and not a minute more.
    oldest = q.copy_ticks_from("SYN00001", 0, 1, q.COPY_TICKS_ALL)[0]
    assert oldest["time"] >= last_closed_day() - 3 * DAY
    assert q.copy_rates_from_pos("BTCUSD", q.TIMEFRAME_D1, 0, 10)["time"][0] == \
        last_closed_day() - 3 * DAY
