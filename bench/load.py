"""The bundled terminal under load: many client processes on one terminal.

    python bench/load.py [--seconds S] [--levels 1 4 16 64] [--tail-clients N]
                         [--idle N] [--slow N] [--tail-rounds R] [--markdown FILE]

It starts a private copy of the installed terminal and, for each level, that
many client processes, each calling the module in a fixed mix for S seconds:
small calls (positions_total, symbol_info_tick, account_info), 10,000 M1 bars,
positions_get, and an order_send that opens a position or closes the one it
opened. For each level it reports the calls per second, the p50, p99 and p99.9
latency of the small calls, the failed calls (which must be none), and the
terminal's CPU time and resident memory.

Then the same mix runs on --tail-clients processes with and without --idle
connections that never send and --slow connections that send a byte a second,
in alternate rounds, to show what such clients cost the others.

Nothing here asserts a timing; the exit status is 1 when a call failed.
"""

from __future__ import annotations

import argparse
import datetime
import multiprocessing
import os
import resource
import socket
import sys
import threading
import time
from dataclasses import dataclass, field
from multiprocessing.synchronize import Event
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence

import numpy as np

import quillmark as mt
from quillmark.helpers import filling_for

BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH))
sys.path.insert(0, str(BENCH.parent / "tests"))

from pure_python_client import CMD_POSITIONS_TOTAL, request_bytes  # noqa: E402
from private_terminal import Terminal, private_terminal  # noqa: E402
from run import machine  # noqa: E402
from terminal_tools import RawClient  # noqa: E402

BARS_SYMBOL = "EURUSD"
TICK_SYMBOLS = ("EURUSD", "GBPUSD", "USDJPY", "XAUUSD", "BTCUSD")
TRADE_SYMBOL = "BTCUSD"  # trades around the clock, weekends too
BARS = 10_000
SMALL_PER_CYCLE = 6  # of each small call, for one of the larger ones


@dataclass
class Outcome:
    """What one client process did."""

    calls: int = 0
    failed: int = 0
    failures: List[str] = field(default_factory=list)  # the first few, described
    small_ns: bytes = b""  # int64 latencies of the small calls


# ---------------------------------------------------------------------------
# A client process


class Mix:
    """The calls of one client, in turn; each tells whether it failed."""

    def __init__(self, index: int) -> None:
        self.index = index
        self.ticket: Optional[int] = None
        self.filling = 0

    def prepare(self) -> bool:
        info = mt.symbol_info(TRADE_SYMBOL)
        if info is None:
            return False
        self.filling = filling_for(info.filling_mode)
        return True

    def small(self, turn: int) -> Any:
        kind = turn % 3
        if kind == 0:
            return mt.positions_total()
        if kind == 1:
            return mt.symbol_info_tick(TICK_SYMBOLS[(self.index + turn) % len(TICK_SYMBOLS)])
        return mt.account_info()

    def bars(self) -> Any:
        return mt.copy_rates_from_pos(BARS_SYMBOL, mt.TIMEFRAME_M1, 0, BARS)

    def positions(self) -> Any:
        return mt.positions_get()

    def trade(self) -> Any:
        """Opens a small position, or closes the one opened before."""
        tick = mt.symbol_info_tick(TRADE_SYMBOL)
        if tick is None:
            return None
        request = {"action": mt.TRADE_ACTION_DEAL, "symbol": TRADE_SYMBOL, "volume": 0.01,
                   "deviation": 1000, "type_filling": self.filling, "magic": 1600 + self.index}
        if self.ticket is None:
            request.update(type=mt.ORDER_TYPE_BUY, price=tick.ask)
        else:
            request.update(type=mt.ORDER_TYPE_SELL, price=tick.bid, position=self.ticket)
        result = mt.order_send(request)
        if result is None or result.retcode != mt.TRADE_RETCODE_DONE:
            return None
        self.ticket = result.order if self.ticket is None else None
        return result


def client_process(exe: str, index: int, ready: Any, go: Event, window: Any,
                   results: Any) -> None:
    outcome = Outcome()
    mix = Mix(index)
    if not mt.initialize(path=exe, timeout=60000) or not mix.prepare():
        outcome.failed = 1
        outcome.failures.append(f"initialize: {mt.last_error()}")
        ready.put(index)
        results.put(outcome)
        return
    ready.put(index)
    go.wait()
    start, stop = window[0], window[1]
    while time.monotonic() < start:
        time.sleep(0.001)
    latencies: List[int] = []
    larger = (mix.bars, mix.positions, mix.trade)
    turn = 0

    def record(name: str, result: Any) -> None:
        outcome.calls += 1
        if result is None:
            outcome.failed += 1
            if len(outcome.failures) < 5:
                outcome.failures.append(f"{name}: {mt.last_error()}")

    while time.monotonic() < stop:
        for _ in range(3 * SMALL_PER_CYCLE):
            began = time.perf_counter_ns()
            result = mix.small(turn)
            latencies.append(time.perf_counter_ns() - began)
            record("small call", result)
            turn += 1
        call = larger[turn % len(larger)]
        record(call.__name__, call())
    if mix.ticket is not None:
        record("trade", mix.trade())
    mt.shutdown()
    outcome.small_ns = np.asarray(latencies, dtype=np.int64).tobytes()
    results.put(outcome)


# ---------------------------------------------------------------------------
# Clients that cost the terminal a connection and little else


class Loiterers:
    """Connections that never send, and connections that send a small request
    one byte a second and read its reply, from one thread."""

    def __init__(self, socket_path: str, idle: int, slow: int) -> None:
        self.idle = [self._connect(socket_path) for _ in range(idle)]
        self.slow = [self._connect(socket_path) for _ in range(slow)]
        self.request = request_bytes(CMD_POSITIONS_TOTAL)
        self.replies = 0
        self.error = ""  # what ended the slow clients early
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._dribble, daemon=True)
        self.thread.start()

    @staticmethod
    def _connect(path: str) -> socket.socket:
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.connect(path)
        sock.settimeout(10)  # a slow client left unanswered is a failure
        return sock

    def _dribble(self) -> None:
        at = 0
        try:
            while not self.stopped.wait(1.0):
                for sock in self.slow:
                    sock.sendall(self.request[at:at + 1])
                at += 1
                if at == len(self.request):
                    for sock in self.slow:
                        RawClient.over(sock).reply()
                        self.replies += 1
                    at = 0
        except OSError as error:
            self.error = f"slow client: {error}"

    def close(self) -> None:
        self.stopped.set()
        self.thread.join()
        for sock in self.idle + self.slow:
            sock.close()


# ---------------------------------------------------------------------------
# One level


@dataclass
class Level:
    clients: int
    seconds: float
    calls: int
    failed: int
    failures: List[str]
    small_ns: np.ndarray
    cpu_seconds: float
    rss_kib: int


def terminal_cpu_seconds(pid: int) -> float:
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def terminal_rss_kib(pid: int) -> int:
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def run_level(terminal: Terminal, clients: int, seconds: float) -> Level:
    context = multiprocessing.get_context("spawn")
    ready, results = context.Queue(), context.Queue()
    go = context.Event()
    window = context.Array("d", 2)
    processes = [context.Process(target=client_process,
                                 args=(terminal.exe, i, ready, go, window, results))
                 for i in range(clients)]
    for process in processes:
        process.start()
    for _ in processes:
        ready.get(timeout=300)
    pid = terminal.process.pid
    cpu_before = terminal_cpu_seconds(pid)
    window[0] = time.monotonic() + 0.2
    window[1] = window[0] + seconds
    go.set()
    outcomes = [results.get(timeout=seconds + 300) for _ in processes]
    cpu = terminal_cpu_seconds(pid) - cpu_before
    rss = terminal_rss_kib(pid)
    for process in processes:
        process.join()
    failures = [text for outcome in outcomes for text in outcome.failures]
    small = np.concatenate([np.frombuffer(o.small_ns, dtype=np.int64) for o in outcomes])
    return Level(clients, seconds, sum(o.calls for o in outcomes),
                 sum(o.failed for o in outcomes), failures, small, cpu, rss)


# ---------------------------------------------------------------------------
# Report


def fmt_us(ns: float) -> str:
    return f"{ns / 1e3:,.0f} µs" if ns >= 1e4 else f"{ns / 1e3:.1f} µs"


def percentiles(small_ns: np.ndarray) -> List[str]:
    if small_ns.size == 0:
        return ["-", "-", "-"]
    return [fmt_us(float(np.percentile(small_ns, q))) for q in (50, 99, 99.9)]


def cpu_per_call(levels: Sequence[Level]) -> str:
    calls = sum(level.calls for level in levels)
    cpu = sum(level.cpu_seconds for level in levels)
    return fmt_us(cpu / calls * 1e9) if calls else "-"


def level_table(levels: Sequence[Level]) -> List[str]:
    lines = [
        "| Clients | Calls per second | Small calls p50 | p99 | p99.9 | Failed calls | "
        "Terminal CPU | Terminal CPU per call | Terminal resident memory |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for level in levels:
        p50, p99, p999 = percentiles(level.small_ns)
        lines.append(
            f"| {level.clients} | {level.calls / level.seconds:,.0f} | {p50} | {p99} | {p999} | "
            f"{level.failed} | {level.cpu_seconds:.1f} s ({level.cpu_seconds / level.seconds:.0%}"
            f" of one CPU) | {cpu_per_call([level])} | {level.rss_kib / 1024:.0f} MiB |")
    return lines


def tail_table(clients: int, idle: int, slow: int, plain: Sequence[Level],
               loitered: Sequence[Level]) -> List[str]:
    lines = [
        f"{clients} clients alone and beside {idle} idle connections (connected, never "
        f"sending) and {slow} slow ones (a byte a second), in alternate rounds:",
        "",
        "| | Calls per second | Small calls p50 | p99 | p99.9 | Failed calls | "
        "Terminal CPU per call |",
        "|---|---|---|---|---|---|---|",
    ]
    for label, levels in (("alone", plain), (f"with {idle} idle and {slow} slow", loitered)):
        seconds = sum(level.seconds for level in levels)
        calls = sum(level.calls for level in levels)
        small = np.concatenate([level.small_ns for level in levels])
        p50, p99, p999 = percentiles(small)
        failed = sum(level.failed for level in levels)
        lines.append(f"| {label} | {calls / seconds:,.0f} | {p50} | {p99} | {p999} | {failed} | "
                     f"{cpu_per_call(levels)} |")
    return lines


def raise_open_file_limit(wanted: int) -> None:
    """The idle and slow connections are descriptors of this process, more
    than a usual soft limit of 1,024 allows."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft == resource.RLIM_INFINITY or soft >= wanted:
        return
    resource.setrlimit(resource.RLIMIT_NOFILE,
                       (wanted if hard == resource.RLIM_INFINITY else min(wanted, hard), hard))


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=10.0, help="length of each run")
    parser.add_argument("--levels", type=int, nargs="*", default=[1, 4, 16, 64],
                        help="numbers of client processes")
    parser.add_argument("--tail-clients", type=int, default=4)
    parser.add_argument("--idle", type=int, default=1000, help="connections that never send")
    parser.add_argument("--slow", type=int, default=50, help="connections sending a byte a second")
    parser.add_argument("--tail-rounds", type=int, default=2,
                        help="rounds with and without the idle and slow clients (0: none)")
    parser.add_argument("--markdown", type=Path, help="also write the results to this file")
    args = parser.parse_args(argv)
    raise_open_file_limit(args.idle + args.slow + 256)

    with private_terminal("load") as terminal:
        levels = []
        for clients in args.levels:
            print(f"{clients} clients ...", flush=True)
            levels.append(run_level(terminal, clients, args.seconds))
        plain: List[Level] = []
        loitered: List[Level] = []
        for round_number in range(args.tail_rounds):
            print(f"idle and slow clients, round {round_number + 1} ...", flush=True)
            # Each round starts with the other side, so neither always
            # meets the machine warmer.
            for loitering in ((False, True) if round_number % 2 == 0 else (True, False)):
                if not loitering:
                    plain.append(run_level(terminal, args.tail_clients, args.seconds))
                    continue
                loiterers = Loiterers(terminal.socket_path, args.idle, args.slow)
                try:
                    loitered.append(run_level(terminal, args.tail_clients, args.seconds))
                finally:
                    loiterers.close()
                if loiterers.error:
                    loitered[-1].failed += 1
                    loitered[-1].failures.append(loiterers.error)

    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    lines = [f"Run of {when} on {machine()}; {args.seconds:g} s per run."]
    if levels:
        lines += [""] + level_table(levels)
    if plain:
        lines += [""] + tail_table(args.tail_clients, args.idle, args.slow, plain, loitered)
    failures = [text for level in levels + plain + loitered for text in level.failures]
    if failures:
        lines += ["", "Failures (the first few):"] + [f"- {text}" for text in failures[:10]]
    text = "\n".join(lines) + "\n"
    print()
    print(text)
    if args.markdown:
        args.markdown.write_text(text)
    failed = sum(level.failed for level in levels + plain + loitered)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
