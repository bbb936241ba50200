"""Benchmarks of the extension against the transport's own limit and against a
pure-Python client of the same protocol, measured in one run against the same
bundled terminals.

    python bench/run.py [--quick] [--markdown bench/results.md]

It builds the raw C++ client with the system compiler, starts two private
copies of the installed terminal (one with a large catalogue and deep history,
one holding 100,000 positions), runs every benchmark in rounds, and prints the
medians and ratios. In each round every client runs back to back, and a ratio
is the median of the per-round ratios, so slow phases of a shared machine hit
both sides of a ratio alike. Nothing here asserts a timing.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from functools import partial
from typing import Callable, Dict, List, Optional, Sequence, Tuple, TypeVar

import numpy as np

import quillmark as mt

T = TypeVar("T")
BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH))

from pure_python_client import (  # noqa: E402
    CMD_POSITIONS_GET,
    CMD_POSITIONS_TOTAL,
    CMD_RATES_FROM_POS,
    CMD_SYMBOL_INFO,
    CMD_SYMBOL_INFO_TICK,
    CMD_SYMBOLS_GET,
    CMD_TICKS_RANGE,
    PureClient,
    counted_text,
    request_bytes,
    socket_path_for,
)
from private_terminal import Terminal  # noqa: E402

SYMBOL = "EURUSD"
CATALOGUE_SYMBOLS = 1000
CMD_RATES_RANGE = 107
POSITIONS = 100_000
BULK_RECORDS = 1_000_000
# Three patterns each: one keeps every seeded position (so the call builds the
# same records as without a mask and the difference is the filter alone), one
# keeps two symbols of five.
MASK_ALL = "*USD*,*JPY,!XAU*"
MASK_SOME = "EUR*,GBP*,!*JPY"


@dataclass
class Settings:
    latency_rounds: int  # many short rounds: a burst of load spoils few of them
    latency_calls: int
    rounds: int
    symbols_calls: int
    symbol_info_calls: int
    bulk_rounds: int  # one large call per client and round
    rate_rounds: int
    rate_seconds: float


FULL = Settings(41, 500, 15, 5, 500, 7, 3, 2.0)
QUICK = Settings(15, 200, 5, 2, 200, 3, 2, 1.0)


# ---------------------------------------------------------------------------
# The terminal and the raw client


def build_raw_client(folder: Path) -> str:
    compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++") or "c++"
    exe = folder / "raw_client"
    command = [compiler, "-O2", "-std=c++17", "-o", str(exe), str(BENCH / "raw_client.cpp")]
    subprocess.run(command, check=True)
    return str(exe)


class RawClient:
    """The C++ client, driven one command line at a time."""

    def __init__(self, exe: str, socket_path: str) -> None:
        self.process = subprocess.Popen(
            pinned_command([exe, socket_path]), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            text=True)
        self.build = int(self._answer("ready")[0])

    def _answer(self, expected: str = "") -> List[str]:
        assert self.process.stdout is not None
        words = self.process.stdout.readline().split()
        if not words or words[0] == "error" or (expected and words[0] != expected):
            raise RuntimeError(f"raw client: {' '.join(words) or 'no answer'}")
        return words[1:] if expected else words

    def _ask(self, line: str, expected: str = "") -> List[str]:
        assert self.process.stdin is not None
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self._answer(expected)

    def per_call(self, request: bytes, count: int) -> float:
        return int(self._ask(f"calls {count} {request.hex()}")[0]) / 1e9 / count

    def bulk(self, request: bytes) -> Dict[str, float]:
        total, first, size, before, peak = map(int, self._ask(f"bulk {request.hex()}"))
        return {"total": total / 1e9, "first_byte": first / 1e9, "bytes": size,
                "grown": (peak - before) * 1024}

    def start_rate(self, request: bytes, start_ns: int, stop_ns: int) -> None:
        assert self.process.stdin is not None
        self.process.stdin.write(f"rate {request.hex()} {start_ns} {stop_ns}\n")
        self.process.stdin.flush()

    def rate_result(self) -> float:
        count, elapsed = map(int, self._answer())
        return count / (elapsed / 1e9)

    def close(self) -> None:
        if self.process.poll() is None and self.process.stdin is not None:
            self.process.stdin.write("quit\n")
            self.process.stdin.close()
        self.process.wait(10)


# ---------------------------------------------------------------------------
# Measuring


def per_call(function: Callable[[], object], count: int) -> float:
    start = time.perf_counter()
    for _ in range(count):
        function()
    return (time.perf_counter() - start) / count


def median(values: Sequence[float]) -> float:
    return statistics.median(values) if values else float("nan")


@dataclass
class Row:
    group: str
    call: str
    raw: Optional[float] = None  # seconds per call, median
    module: Optional[float] = None
    pure: Optional[float] = None
    module_over_raw: Optional[float] = None  # median of per-round ratios
    pure_over_module: Optional[float] = None
    # The same, less what the raw client spends: the clients' own work alone.
    client_pure_over_module: Optional[float] = None
    target: str = ""
    met: Optional[bool] = None


@dataclass
class Samples:
    raw: List[float] = field(default_factory=list)
    module: List[float] = field(default_factory=list)
    pure: List[float] = field(default_factory=list)

    def row(self, group: str, call: str) -> Row:
        row = Row(group, call, module=median(self.module))
        if self.pure:
            row.pure = median(self.pure)
            row.pure_over_module = median([p / m for p, m in zip(self.pure, self.module)])
        if self.raw:
            row.raw = median(self.raw)
            row.module_over_raw = median([m / r for m, r in zip(self.module, self.raw)])
        if self.raw and self.pure:
            own = [(p - r) / (m - r) for p, m, r in zip(self.pure, self.module, self.raw) if m > r]
            row.client_pure_over_module = median(own) if own else None
        return row


def expect(value: Optional[T], what: str) -> T:
    if value is None:
        raise RuntimeError(f"{what} failed: {mt.last_error()}")
    return value


def connect_module(terminal: Terminal) -> None:
    if not mt.initialize(path=terminal.exe, timeout=60000):
        raise RuntimeError(f"initialize failed: {mt.last_error()}")


Timer = Callable[[], float]  # one batch of calls; returns seconds per call
LargeCall = Callable[[], Optional[np.ndarray]]


def python_timer(function: Callable[[], object], count: int) -> Timer:
    return lambda: per_call(function, count)


def raw_timer(raw: RawClient, request: bytes, count: int) -> Timer:
    return lambda: raw.per_call(request, count)


def interleaved(rounds: int, timers: Dict[str, Timer]) -> Dict[str, List[float]]:
    """Every timer in turn, `rounds` times, after one untimed warm-up batch.
    Each round starts with the next timer, so none always runs first."""
    names = list(timers)
    for timer in timers.values():
        timer()
    samples: Dict[str, List[float]] = {name: [] for name in names}
    for round_number in range(rounds):
        shift = round_number % len(names)
        for name in names[shift:] + names[:shift]:
            samples[name].append(timers[name]())
    return samples


def rounds_of(
    rounds: int,
    count: int,
    raw: RawClient,
    request: bytes,
    module: Callable[[], object],
    pure: Callable[[], object],
) -> Samples:
    """The raw, module and pure-Python clients in turn."""
    expect(module(), "first call")
    found = interleaved(rounds, {
        "raw": raw_timer(raw, request, count),
        "module": python_timer(module, count),
        "pure": python_timer(pure, count),
    })
    return Samples(found["raw"], found["module"], found["pure"])


# ---------------------------------------------------------------------------
# The benchmarks


def b1_latency(s: Settings, raw: RawClient, pure: PureClient) -> List[Row]:
    rows = []
    cases = [
        ("positions_total()", request_bytes(CMD_POSITIONS_TOTAL), mt.positions_total,
         pure.positions_total),
        (f"symbol_info_tick('{SYMBOL}')",
         request_bytes(CMD_SYMBOL_INFO_TICK, counted_text(SYMBOL)),
         lambda: mt.symbol_info_tick(SYMBOL), lambda: pure.symbol_info_tick(SYMBOL)),
    ]
    for call, request, module, pure_call in cases:
        samples = rounds_of(s.latency_rounds, s.latency_calls, raw, request, module, pure_call)
        row = samples.row("B1", call)
        row.target = "module/raw <= 1.25"
        row.met = row.module_over_raw is not None and row.module_over_raw <= 1.25
        rows.append(row)
    return rows


@dataclass
class BulkResult:
    call: str
    records: int
    nbytes: int
    raw: List[Dict[str, float]]
    module: List[float]
    pure: List[float]
    peak: Dict[str, float]  # peak growth over array size, by client


def peak_growth(client: str, exe: str, what: str, args: Sequence[object]) -> float:
    """Peak resident growth of one call over the array's size, measured in a
    fresh process."""
    command = [sys.executable, str(BENCH / "peak_memory.py"), client, exe, what]
    output = subprocess.run(command + [str(a) for a in args], check=True,
                            capture_output=True, text=True).stdout
    figures = json.loads(output)
    return (figures["peak"] - figures["rss_before"]) * 1024 / figures["nbytes"]


def bulk_rounds(s: Settings, raw: RawClient, request: bytes, module: LargeCall,
                pure: LargeCall) -> Dict[str, list]:
    """Single calls in rounds; the raw client's details are kept as well."""
    details: List[Dict[str, float]] = []

    def raw_call() -> float:
        details.append(raw.bulk(request))
        return details[-1]["total"]

    def python_call(function: LargeCall) -> Timer:
        # The client hands the array over: freeing it is not part of the call.
        def timer() -> float:
            start = time.perf_counter()
            array = expect(function(), "large call")
            elapsed = time.perf_counter() - start
            del array
            return elapsed
        return timer

    found = interleaved(s.bulk_rounds, {"raw": raw_call, "module": python_call(module),
                                        "pure": python_call(pure)})
    return {"raw": details[1:], "module": found["module"], "pure": found["pure"]}


def bulk_case(s: Settings, raw: RawClient, exe: str, call: str, what: str,
              args: Tuple[object, ...], request: bytes, module: LargeCall,
              pure: LargeCall) -> BulkResult:
    times = bulk_rounds(s, raw, request, module, pure)
    nbytes = int(times["raw"][0]["bytes"]) - 12  # less the command, status and count
    peak = {
        "raw": median([r["grown"] / r["bytes"] for r in times["raw"]]),
        "module": peak_growth("module", exe, what, args),
        "pure": peak_growth("pure", exe, what, args),
    }
    return BulkResult(call, nbytes // 60, nbytes, times["raw"], times["module"], times["pure"],
                      peak)


def b2_bulk(s: Settings, raw: RawClient, pure: PureClient, exe: str) -> List[BulkResult]:
    bars_args = (SYMBOL, mt.TIMEFRAME_M1, 0, BULK_RECORDS)
    bars_request = request_bytes(
        CMD_RATES_FROM_POS, counted_text(SYMBOL) + struct.pack("<iii", *bars_args[1:]))
    # The period that holds the first million ticks of the history.
    first = expect(mt.copy_ticks_from(SYMBOL, 0, BULK_RECORDS, mt.COPY_TICKS_ALL),
                   "copy_ticks_from")
    ticks_args = (SYMBOL, int(first["time"][0]), int(first["time"][-1]), mt.COPY_TICKS_ALL)
    del first
    ticks_request = request_bytes(
        CMD_TICKS_RANGE,
        counted_text(SYMBOL)
        + struct.pack("<qqi", ticks_args[1] * 1000, ticks_args[2] * 1000, ticks_args[3]))
    return [
        bulk_case(s, raw, exe, "copy_rates_from_pos (M1)", "rates", bars_args, bars_request,
                  partial(mt.copy_rates_from_pos, *bars_args),
                  partial(pure.copy_rates_from_pos, *bars_args)),
        bulk_case(s, raw, exe, "copy_ticks_range", "ticks", ticks_args, ticks_request,
                  partial(mt.copy_ticks_range, *ticks_args),
                  partial(pure.copy_ticks_range, *ticks_args)),
    ]


def b6_history(s: Settings, raw: RawClient) -> List[Row]:
    """copy_rates_range over spans a chart or a backtest asks for, end to end.
    The first call of each is timed alone too: nothing of it was made yet."""
    now = int(time.time())
    cases = [
        ("D1, all of the history", mt.TIMEFRAME_D1, 0),
        ("H1, a year", mt.TIMEFRAME_H1, now - 365 * 86400),
        ("M1, a month", mt.TIMEFRAME_M1, now - 30 * 86400),
    ]
    rows = []
    for index, (what, timeframe, start) in enumerate(cases):
        # A symbol of its own for each case, which no earlier call has touched.
        symbol = f"SYN{index + 1:05d}"
        args = (symbol, timeframe, start, now)
        request = request_bytes(
            CMD_RATES_RANGE, counted_text(symbol) + struct.pack("<iqq", timeframe, start, now))
        started = time.perf_counter()
        bars = expect(mt.copy_rates_range(*args), "copy_rates_range")
        first = time.perf_counter() - started
        found = interleaved(s.bulk_rounds, {
            "raw": raw_timer(raw, request, 1),
            "module": python_timer(partial(mt.copy_rates_range, *args), 1),
        })
        row = Samples(found["raw"], found["module"]).row(
            "B6", f"copy_rates_range {what} ({len(bars):,} bars; first call {fmt_time(first)})")
        row.target = "module < 100 ms"
        row.met = row.module is not None and row.module < 0.1 and first < 0.1
        rows.append(row)
    return rows


def bulk_rows(results: List[BulkResult]) -> List[Row]:
    rows = []
    for r in results:
        raw_total = [x["total"] for x in r.raw]
        samples = Samples(raw_total, r.module, r.pure)
        row = samples.row("B2", f"{r.call}, {r.records:,} records")
        # Throughput is bytes over time, so module/raw throughput = raw/module time.
        throughput = 1 / row.module_over_raw if row.module_over_raw else 0.0
        row.target = "throughput >= 0.85 x raw; peak <= 1.1 x array"
        row.met = throughput >= 0.85 and r.peak["module"] <= 1.1
        rows.append(row)
    return rows


def b3_symbols(s: Settings, raw: RawClient, pure: PureClient) -> List[Row]:
    total = expect(mt.symbols_total(), "symbols_total")
    cases: List[Tuple[str, bytes, int, Callable[[], object], Callable[[], object]]] = [
        (f"symbols_get(), {total:,} symbols", request_bytes(CMD_SYMBOLS_GET), s.symbols_calls,
         mt.symbols_get, pure.symbols_get),
        (f"symbol_info('{SYMBOL}')", request_bytes(CMD_SYMBOL_INFO, counted_text(SYMBOL)),
         s.symbol_info_calls, lambda: mt.symbol_info(SYMBOL), lambda: pure.symbol_info(SYMBOL)),
    ]
    rows = []
    for call, request, count, module, pure_call in cases:
        row = rounds_of(s.rounds, count, raw, request, module, pure_call).row("B3", call)
        row.target = "pure/module >= 10"
        row.met = row.pure_over_module is not None and row.pure_over_module >= 10
        rows.append(row)
    return rows


def b4_positions(s: Settings, raw: RawClient, pure: PureClient) -> List[Row]:
    total = expect(mt.positions_total(), "positions_total")
    kept = {mask: len(expect(mt.positions_get(group=mask), "positions_get"))
            for mask in (MASK_ALL, MASK_SOME)}
    timers = {"raw": raw_timer(raw, request_bytes(CMD_POSITIONS_GET), 1),
              "module": python_timer(mt.positions_get, 1),
              "pure": python_timer(pure.positions_get, 1)}
    for mask in (MASK_ALL, MASK_SOME):
        timers["module " + mask] = python_timer(partial(mt.positions_get, group=mask), 1)
        timers["pure " + mask] = python_timer(partial(pure.positions_get, group=mask), 1)
    found = interleaved(s.bulk_rounds, timers)
    rows = [Samples(found["raw"], found["module"], found["pure"]).row(
        "B4", f"positions_get(), {total:,} positions")]
    for mask in (MASK_ALL, MASK_SOME):
        # Every variant asks the terminal for the same unfiltered list.
        samples = Samples(found["raw"], found["module " + mask], found["pure " + mask])
        row = samples.row("B4", f"positions_get(group='{mask}'), keeps {kept[mask]:,}")
        row.target = "pure/module >= 10"
        row.met = row.pure_over_module is not None and row.pure_over_module >= 10
        rows.append(row)
    # The first mask keeps every position, so the same records are built with
    # and without it: the difference is the filter's own cost. It is small,
    # so it gets rounds of its own, without the slow pure-Python calls between.
    paired = interleaved(s.rounds, {
        "plain": python_timer(mt.positions_get, 1),
        "masked": python_timer(partial(mt.positions_get, group=MASK_ALL), 1),
    })
    cost = median([m / p - 1 for m, p in zip(paired["masked"], paired["plain"])])
    rows.append(Row("B4", f"cost of the mask '{MASK_ALL}' in the module", module=cost,
                    target="<= 10 % of the call", met=cost <= 0.10))
    return rows


def b5_capacity(s: Settings, raw_exe: str, socket_path: str) -> List[Row]:
    request = request_bytes(CMD_POSITIONS_TOTAL)
    rows = []
    for connections in (1, 4):
        clients = [RawClient(raw_exe, socket_path) for _ in range(connections)]
        rates = []
        try:
            for _ in range(s.rate_rounds):
                start = time.time_ns() + 300_000_000
                stop = start + int(s.rate_seconds * 1e9)
                for client in clients:
                    client.start_rate(request, start, stop)
                rates.append(sum(client.rate_result() for client in clients))
        finally:
            for client in clients:
                client.close()
        label = "one connection" if connections == 1 else "four connections (four processes)"
        rows.append(Row("B5", f"positions_total() requests per second, {label}",
                        median(rates), target="report"))
    return rows


# ---------------------------------------------------------------------------
# Pinning: on a small shared machine a small call's time swings with the cost
# of waking a process on the other CPU. With --pinned the clients and the
# terminals share one CPU, which makes such figures repeatable.

ALL_CPUS = frozenset(os.sched_getaffinity(0))
PINNED_CPU: Optional[int] = None  # set by --pinned


def pinned_command(argv: List[str]) -> List[str]:
    if PINNED_CPU is None:
        return argv
    return ["taskset", "-c", str(PINNED_CPU), *argv]


def set_affinity(pid: int, cpus: frozenset) -> None:
    """Every thread of the process, not only its first."""
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            os.sched_setaffinity(int(task), cpus)
        except ProcessLookupError:
            pass  # a thread that ended meanwhile


def pin_this_process(cpu: int) -> None:
    """Everything started from now on inherits the CPU."""
    global PINNED_CPU
    PINNED_CPU = cpu
    set_affinity(os.getpid(), frozenset({cpu}))


def with_affinity(pids: Sequence[int], cpus: frozenset, timer: Timer) -> Timer:
    def timed() -> float:
        for pid in pids:
            set_affinity(pid, cpus)
        return timer()
    return timed


def pinning_rows(s: Settings, raw: RawClient, terminal: Terminal) -> List[str]:
    """Small calls and one connection's capacity, each measured pinned and
    unpinned in alternate rounds of the same run."""
    pids = [os.getpid(), raw.process.pid, terminal.process.pid]
    modes = {"pinned": frozenset({PINNED_CPU}), "unpinned": ALL_CPUS}
    cases: List[Tuple[str, bytes, Callable[[], object]]] = [
        ("positions_total()", request_bytes(CMD_POSITIONS_TOTAL), mt.positions_total),
        (f"symbol_info_tick('{SYMBOL}')", request_bytes(CMD_SYMBOL_INFO_TICK, counted_text(SYMBOL)),
         lambda: mt.symbol_info_tick(SYMBOL)),
        (f"symbol_info('{SYMBOL}')", request_bytes(CMD_SYMBOL_INFO, counted_text(SYMBOL)),
         lambda: mt.symbol_info(SYMBOL)),
    ]
    lines = [
        "",
        f"Small calls with the clients and the terminal on one CPU (pinned) and free to "
        f"use all {len(ALL_CPUS)} (unpinned), in alternate rounds of the same run; "
        "the targets above are taken pinned.",
        "",
        "| Call | pinned raw | pinned module | pinned module/raw | unpinned raw | "
        "unpinned module | unpinned module/raw |",
        "|---|---|---|---|---|---|---|",
    ]
    for call, request, module in cases:
        timers = {}
        for mode, cpus in modes.items():
            timers[mode + " raw"] = with_affinity(pids, cpus,
                                                  raw_timer(raw, request, s.latency_calls))
            timers[mode + " module"] = with_affinity(pids, cpus,
                                                     python_timer(module, s.latency_calls))
        found = interleaved(s.latency_rounds, timers)
        cells = []
        for mode in modes:
            samples = Samples(found[mode + " raw"], found[mode + " module"])
            row = samples.row("", call)
            cells += [fmt_time(row.raw), fmt_time(row.module), fmt_ratio(row.module_over_raw)]
        lines.append(f"| {call} | " + " | ".join(cells) + " |")

    def rate(cpus: frozenset) -> float:
        for pid in pids:
            set_affinity(pid, cpus)
        start = time.time_ns() + 100_000_000
        raw.start_rate(request_bytes(CMD_POSITIONS_TOTAL), start,
                       start + int(s.rate_seconds * 1e9))
        return raw.rate_result()

    rates = interleaved(s.rate_rounds, {mode: partial(rate, cpus) for mode, cpus in modes.items()})
    lines.append(f"| positions_total() requests per second, one connection | "
                 f"{median(rates['pinned']):,.0f} /s | | | {median(rates['unpinned']):,.0f} /s "
                 "| | |")
    for pid in pids:
        set_affinity(pid, modes["pinned"])
    return lines


# ---------------------------------------------------------------------------
# Report


def fmt_time(seconds: Optional[float]) -> str:
    if seconds is None:
        return "-"
    if abs(seconds) < 1e-3:
        return f"{seconds * 1e6:.1f} µs"
    if abs(seconds) < 1:
        return f"{seconds * 1e3:.1f} ms"
    return f"{seconds:.2f} s"


def fmt_ratio(value: Optional[float]) -> str:
    return "-" if value is None else f"{value:.2f}"


def fmt_met(row: Row) -> str:
    if row.met is None:
        return ""
    if row.met:
        return "yes"
    own = row.client_pure_over_module
    if "pure/module" in row.target and own is not None and own >= 10:
        return "**no**; own work: yes"
    return "**no**"


def machine() -> str:
    model = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"{model}, {os.cpu_count()} logical CPUs, {platform.system()} {platform.release()}, "
            f"Python {platform.python_version()}, NumPy {np.__version__}")


def report(rows: List[Row], bulk: List[BulkResult], settings: Settings, quick: bool,
           build: int) -> str:
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    lines = [
        f"Run of {when}{' (--quick)' if quick else ''} on {machine()}; terminal build {build}.",
        f"Medians of {settings.latency_rounds} rounds of {settings.latency_calls} calls (B1), "
        f"{settings.rounds} rounds (B3) and {settings.bulk_rounds} rounds of single calls "
        "(B2, B4); "
        "ratios are medians of per-round ratios. \"Own work\" leaves out what the raw client "
        "spends on the same request (the terminal's time and the transfer): "
        "(pure - raw) / (module - raw).",
        "",
        "| | Call | raw C++ | module | pure Python | module/raw | pure/module | "
        "pure/module, own work | Target | Met |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        if r.group == "B5":
            lines.append(f"| B5 | {r.call} | {r.raw:,.0f} /s | | | | | | {r.target} | |")
        elif r.call.startswith("cost of") and r.module is not None:
            lines.append(f"| {r.group} | {r.call} | | {r.module * 100:+.1f} % | | | | | "
                         f"{r.target} | {fmt_met(r)} |")
        else:
            # Where the module adds little to the raw call, this quotient is noise.
            own = fmt_ratio(r.client_pure_over_module) if r.group in ("B3", "B4") else "-"
            lines.append(
                f"| {r.group} | {r.call} | {fmt_time(r.raw)} | {fmt_time(r.module)} | "
                f"{fmt_time(r.pure)} | {fmt_ratio(r.module_over_raw)} | "
                f"{fmt_ratio(r.pure_over_module)} | {own} | {r.target} | {fmt_met(r)} |")
    lines += [
        "",
        "B2 in detail: the raw client's first byte is the terminal's own time to make the "
        "reply; transfer = the rest of the raw call; the client's cost = module - raw. "
        "Peak = resident-set growth during one call in a fresh process, over the array's size.",
        "",
        "| Call | MB | raw first byte | raw transfer | module client cost | "
        "throughput raw / module / pure (MB/s) | peak raw / module / pure |",
        "|---|---|---|---|---|---|---|",
    ]
    for b in bulk:
        raw_total = median([x["total"] for x in b.raw])
        first = median([x["first_byte"] for x in b.raw])
        module = median(b.module)
        pure = median(b.pure)
        client_cost = median([m - x["total"] for m, x in zip(b.module, b.raw)])
        mb = b.nbytes / 1e6
        lines.append(
            f"| {b.call} | {mb:.1f} | {fmt_time(first)} | {fmt_time(raw_total - first)} | "
            f"{fmt_time(client_cost)} | {mb / raw_total:,.0f} / {mb / module:,.0f} / "
            f"{mb / pure:,.0f} | {b.peak['raw']:.2f} / {b.peak['module']:.2f} / "
            f"{b.peak['pure']:.2f} |")
    return "\n".join(lines) + "\n"


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer rounds and calls")
    parser.add_argument("--markdown", type=Path, help="also write the results to this file")
    parser.add_argument("--pinned", action="store_true",
                        help="run the clients and the terminals on one CPU, and compare small "
                        "calls pinned and unpinned")
    args = parser.parse_args(argv)
    settings = QUICK if args.quick else FULL
    if args.pinned:
        pin_this_process(max(ALL_CPUS))

    with tempfile.TemporaryDirectory(prefix="quillmark-bench-") as folder:
        root = Path(folder)
        data_home = root / "data"
        data_home.mkdir()
        print("building the raw client ...", flush=True)
        raw_exe = build_raw_client(root)
        print("starting the terminals ...", flush=True)
        # The default history, from 2010: millions of M1 bars of every symbol.
        market = Terminal(root, "market", data_home, ["--symbols", str(CATALOGUE_SYMBOLS)])
        book = Terminal(root, "book", data_home, ["--positions", str(POSITIONS)])
        clients: List[object] = []
        try:
            market.wait()
            book.wait()
            connect_module(market)
            raw = RawClient(raw_exe, market.socket_path)
            pure = PureClient(market.socket_path, timeout=None)
            clients += [raw, pure]
            print("B1 latency ...", flush=True)
            rows = b1_latency(settings, raw, pure)
            print("B2 bars and ticks ...", flush=True)
            bulk = b2_bulk(settings, raw, pure, market.exe)
            rows += bulk_rows(bulk)
            print("B6 history ranges ...", flush=True)
            rows += b6_history(settings, raw)
            print("B3 symbols ...", flush=True)
            rows += b3_symbols(settings, raw, pure)
            print("B5 terminal capacity ...", flush=True)
            rows += b5_capacity(settings, raw_exe, market.socket_path)
            print("B4 positions ...", flush=True)
            connect_module(book)
            book_raw = RawClient(raw_exe, book.socket_path)
            book_pure = PureClient(book.socket_path, timeout=None)
            clients += [book_raw, book_pure]
            rows += b4_positions(settings, book_raw, book_pure)
            text = report(sorted(rows, key=lambda r: r.group), bulk, settings, args.quick,
                          raw.build)
            if args.pinned:
                text = f"Pinned: the clients and the terminals on CPU {PINNED_CPU}.\n" + text
                print("pinned and unpinned ...", flush=True)
                connect_module(market)
                text += "\n".join(pinning_rows(settings, raw, market)) + "\n"
        finally:
            mt.shutdown()
            for client in clients:
                client.close()  # type: ignore[attr-defined]
            market.stop()
            book.stop()
    print()
    print(text)
    if args.markdown:
        args.markdown.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
