"""The benchmark's baselines must do the module's work, or its ratios mean
nothing: the pure-Python client decodes the same values and selects the same
records as the module, and the raw client reads whole replies.

Run from the repository root: python -m pytest -q bench/tests
"""

from __future__ import annotations

import struct
import json
import subprocess
import sys
from pathlib import Path
from typing import Callable, Iterator, List, Tuple

import pytest

import quillmark as mt

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
sys.path.insert(0, str(ROOT / "tests"))

import run  # noqa: E402
from pure_python_client import (  # noqa: E402
    CMD_POSITIONS_GET,
    CMD_POSITIONS_TOTAL,
    CMD_RATES_FROM_POS,
    PureClient,
    TerminalError,
    counted_text,
    mask_match,
    mask_patterns,
    request_bytes,
)
from terminal_tools import TerminalHome, make_home, set_price  # noqa: E402

FORCED = {"EURUSD": (1.1, 1.1002), "GBPUSD": (1.27, 1.2702), "USDJPY": (150.0, 150.02),
          "AUDUSD": (0.66, 0.6602), "USDCHF": (0.88, 0.8802)}


@pytest.fixture(scope="module")
def home(tmp_path_factory: pytest.TempPathFactory) -> Iterator[TerminalHome]:
    home = make_home(tmp_path_factory.mktemp("terminal"))
    home.start("--test-controls", "--symbols", "80", "--positions", "60")
    try:
        for symbol, (bid, ask) in FORCED.items():
            assert set_price(home, symbol, bid, ask) == 0
        assert mt.initialize(path=home.exe), mt.last_error()
        yield home
    finally:
        mt.shutdown()
        home.stop_all()


@pytest.fixture(scope="module")
def pure(home: TerminalHome) -> Iterator[PureClient]:
    with PureClient(home.socket_path) as client:
        yield client


def symbol_names(*group: str) -> List[str]:
    infos = mt.symbols_get(*group)
    assert isinstance(infos, tuple), mt.last_error()
    return [info.name for info in infos]


def agree(module_call: Callable[[], object], pure_call: Callable[[], object]) -> Tuple:
    """Both results, once they agree or after three tries: live prices of the
    symbols that are not forced may move between two calls, while a decoding
    fault differs every time."""
    for _ in range(3):
        expected, found = module_call(), pure_call()
        assert expected is not None, mt.last_error()
        if expected == found:
            break
    return expected, found


@pytest.mark.parametrize(
    "call",
    [
        ("symbol_info", "EURUSD"),
        ("symbol_info", "SYN00010"),
        ("symbol_info_tick", "USDJPY"),
        ("symbols_get",),
        ("positions_get",),
    ],
    ids=lambda call: "-".join(call),
)
def test_records_decode_as_the_module_does(home: TerminalHome, pure: PureClient,
                                           call: Tuple[str, ...]) -> None:
    name, args = call[0], call[1:]
    expected, found = agree(lambda: getattr(mt, name)(*args), lambda: getattr(pure, name)(*args))
    assert found == expected
    # Field names and order too, not only the values.
    one_expected, one_found = (expected[0], found[0]) if name.endswith("get") else (expected, found)
    assert list(one_found._asdict()) == list(one_expected._asdict())


@pytest.mark.parametrize(
    "mask",
    ["EUR*,GBP*,!*JPY", "*USD*,*JPY,!XAU*", "*,!*JPY", "", " , ,", "USD*, !USDJPY", "!EUR*",
     "*, ! EURUSD", "*SD", "*US*D", "SYN0001*,*CHF",
     # Patterns beyond 255 characters are cut, and the scan goes on after the
     # next comma.
     "X" * 300 + ",EUR*", "EUR" + "*" * 300 + "JPY,GBP*", "*" * 255 + "Q,USDCHF"],
    ids=lambda mask: mask if len(mask) < 40 else mask[:12] + "...",
)
def test_masks_select_what_the_module_selects(home: TerminalHome, pure: PureClient,
                                              mask: str) -> None:
    expected, found = agree(lambda: mt.positions_get(group=mask),
                            lambda: pure.positions_get(group=mask))
    assert found == expected
    # Symbol names are more varied than the positions' five, and the terminal
    # filters them by the same rules (an empty group there means all).
    if mask:
        patterns = mask_patterns(mask)
        selected = symbol_names(mask)
        assert [name for name in symbol_names() if mask_match(patterns, name)] == selected


def test_bars_and_ticks_are_the_same_bytes(home: TerminalHome, pure: PureClient) -> None:
    args = ("EURUSD", mt.TIMEFRAME_M1, 10, 5000)
    bars, pure_bars = agree(lambda: run.expect(mt.copy_rates_from_pos(*args), "bars").tobytes(),
                            lambda: pure.copy_rates_from_pos(*args).tobytes())
    assert pure_bars == bars and len(bars) == 5000 * 60
    rates = run.expect(mt.copy_rates_from_pos(*args), "bars")
    ticks_args = ("EURUSD", int(rates["time"][0]), int(rates["time"][100]), mt.COPY_TICKS_ALL)
    ticks = run.expect(mt.copy_ticks_range(*ticks_args), "ticks")
    pure_ticks = pure.copy_ticks_range(*ticks_args)
    assert len(ticks) > 0 and pure_ticks.tobytes() == ticks.tobytes()
    assert pure_ticks.dtype == ticks.dtype and pure.copy_rates_from_pos(*args).dtype == rates.dtype


def test_raw_client_reads_whole_replies(home: TerminalHome, tmp_path: Path) -> None:
    try:
        exe = run.build_raw_client(tmp_path)
    except (OSError, subprocess.CalledProcessError) as error:
        pytest.skip(f"no C++ compiler: {error}")
    raw = run.RawClient(exe, home.socket_path)
    try:
        assert raw.build == mt.version()[1]
        request = request_bytes(CMD_RATES_FROM_POS,
                                counted_text("EURUSD") + struct.pack("<iii", 1, 0, 1000))
        # Echoed command, status, count, then the bars.
        assert raw.bulk(request)["bytes"] == 4 + 4 + 4 + 1000 * 60
        # A reply left half read would answer the next request out of turn.
        assert raw.per_call(request_bytes(CMD_POSITIONS_TOTAL), 50) > 0
        assert raw.bulk(request)["bytes"] == 4 + 4 + 4 + 1000 * 60
        # The whole batch is timed, and the rate mode counts completed calls.
        start = run.time.time_ns() + 50_000_000
        raw.start_rate(request_bytes(CMD_POSITIONS_TOTAL), start, start + 200_000_000)
        assert raw.rate_result() > 100
        assert raw.bulk(request_bytes(CMD_POSITIONS_GET))["bytes"] == 4 + 4 + 4 + 60 * 320
    finally:
        raw.close()


@pytest.mark.parametrize("client", ["module", "pure"])
def test_peak_memory_counts_the_array_once(home: TerminalHome, client: str) -> None:
    # 300,000 bars: 18 MB, far above what the interpreter moves around
    # by itself, so a peak left over from the imports would show.
    command = [sys.executable, str(ROOT / "bench" / "peak_memory.py"), client, home.exe,
               "rates", "EURUSD", "1", "0", "300000"]
    figures = json.loads(subprocess.run(command, check=True, capture_output=True,
                                        text=True).stdout)
    assert figures["nbytes"] == 300000 * 60
    growth = (figures["peak"] - figures["rss_before"]) * 1024 / figures["nbytes"]
    assert 0.95 < growth < 1.1


def test_pure_client_refuses_failures_and_bad_replies(home: TerminalHome,
                                                      pure: PureClient) -> None:
    with pytest.raises(TerminalError, match="status -4"):
        pure.symbol_info("NOSUCH")
    # A reply whose count does not match its length is not decoded.
    with pytest.raises(TerminalError, match="count"):
        pure._counted(memoryview(struct.pack("<I", 2) + bytes(320)), 320)
    # The connection is still in step afterwards.
    assert pure.positions_total() == mt.positions_total() == 60


def test_report_rows_have_as_many_cells_as_the_header() -> None:
    rows = [
        run.Row("B1", "call", 1e-5, 1.1e-5, 2e-5, 1.1, 1.8, None, "target", True),
        run.Row("B3", "call", 1e-3, 2e-3, 2e-2, 2.0, 10.0, 19.0, "pure/module >= 10", False),
        run.Row("B4", "cost of the mask", None, 0.04, target="t", met=True),
        run.Row("B5", "rate", 100000.0, target="report"),
    ]
    raw = [{"total": 0.3, "first_byte": 0.25, "bytes": 60e6, "grown": 60e6}]
    bulk = [run.BulkResult("bars", 10**6, 60 * 10**6, raw, [0.31], [0.33],
                           {"raw": 1.0, "module": 1.0, "pure": 1.0})]
    text = run.report(rows, bulk, run.QUICK, True, 4000)
    tables = [line for line in text.splitlines() if line.startswith("|")]
    widths = {line.count("|") for line in tables[: len(rows) + 2]}
    assert widths == {11}
    assert {line.count("|") for line in tables[len(rows) + 2:]} == {8}
    assert "own work: yes" in text

