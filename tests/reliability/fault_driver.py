"""Runs the module against a terminal whose link dies at random points of
large replies, and reports every outcome as one JSON line.

Run as a program by test_fault_injection.py, in a process of its own, so that
a call that hangs is seen as a timeout of that process instead of blocking
the test run:

  fault_driver.py cut <terminal socket> <work folder> <runs> <seed>
      a relay in front of the terminal drops the link after a random number
      of reply bytes;
  fault_driver.py kill <terminal executable> <runs> <seed>
      the terminal itself is killed (SIGKILL) after a random delay while it
      answers; the module starts it again for the next run.
"""

from __future__ import annotations

import json
import os
import random
import signal
import socket
import sys
import time
from pathlib import Path
from typing import Any, Callable, Dict, List, Tuple

import quillmark
from quillmark.terminal import terminal_pids

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import wire  # noqa: E402
from proxy import Proxy  # noqa: E402

# Large replies: 3 MB of bars, about 1 MB of ticks, 125 KB of symbols.
CALLS: Dict[str, Tuple[Callable[[], Any], Callable[[Any], bool]]] = {
    "bars": (
        lambda: quillmark.copy_rates_from_pos("EURUSD", 1, 0, 50000),
        lambda result: len(result) == 50000,
    ),
    "ticks": (
        lambda: quillmark.copy_ticks_range("EURUSD", 1760000000, 1760020000, -1),
        lambda result: len(result) > 1000,
    ),
    "symbols": (
        lambda: quillmark.symbols_get(),
        lambda result: len(result) >= 40,
    ),
}


def timed(function: Callable[[], Any]) -> Tuple[Any, int, float]:
    started = time.monotonic()
    result = function()
    return result, quillmark.last_error()[0], time.monotonic() - started


# Longer replies for killing the terminal, so that a kill after a random
# delay mostly falls inside one: 60 MB of bars, several MB of ticks.
KILL_CALLS: Dict[str, Tuple[Callable[[], Any], Callable[[Any], bool]]] = {
    "bars": (
        lambda: quillmark.copy_rates_from_pos("EURUSD", 1, 0, 1000000),
        lambda result: len(result) == 1000000,
    ),
    "ticks": (
        lambda: quillmark.copy_ticks_range("EURUSD", 1760000000, 1760200000, -1),
        lambda result: len(result) > 10000,
    ),
}


def one_run(
    initialize: Callable[[], bool],
    name: str,
    calls: Dict[str, Tuple[Callable[[], Any], Callable[[Any], bool]]] = CALLS,
) -> Dict[str, Any]:
    """Connect, make the call, then see what the link says."""
    call, complete = calls[name]
    outcome: Dict[str, Any] = {"call": name}
    opened, code, seconds = timed(initialize)
    outcome.update(initialize=bool(opened), initialize_code=code, seconds=seconds)
    if opened:
        result, code, seconds = timed(call)
        outcome.update(
            ok=result is not None and complete(result),
            returned_none=result is None,
            code=code,
            seconds=max(outcome["seconds"], seconds),
        )
        _, after_code, _ = timed(quillmark.terminal_info)
        outcome["after_code"] = after_code
    return outcome


def reply_bytes(frames: List[Tuple[str, bytes]]) -> int:
    return sum(len(data) for kind, data in frames if kind == "reply")


def run_cuts(upstream: str, folder: str, runs: int, seed: int) -> None:
    rng = random.Random(seed)
    proxy = Proxy(Path(folder), upstream)

    def initialize() -> bool:
        return quillmark.initialize(path=proxy.path)

    try:
        # The uncut size of each exchange, to cut inside it.
        sizes = {}
        for name in CALLS:
            assert initialize(), quillmark.last_error()
            proxy.frames()
            CALLS[name][0]()
            sizes[name] = reply_bytes(proxy.frames())
            quillmark.shutdown()
        assert initialize(), quillmark.last_error()
        opening = reply_bytes(proxy.frames())
        quillmark.shutdown()

        for run in range(runs):
            name = rng.choice(sorted(CALLS))
            after = rng.randrange(0, opening + sizes[name])
            proxy.cut(after)
            outcome = one_run(initialize, name)
            outcome.update(run=run, after=after, opening=opening, size=sizes[name])
            # A new link must work after every failure.
            outcome["recovered"] = initialize() and quillmark.symbols_total() is not None
            quillmark.shutdown()
            print(json.dumps(outcome), flush=True)
    finally:
        proxy.stop()


def wait_until_gone(executable: str) -> None:
    """Until the killed terminal has closed its socket too: its image goes
    away a moment before its descriptors, and a connect in between would
    reach a listener that is about to vanish."""
    path = wire.socket_path(executable)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if not terminal_pids(executable):
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
                try:
                    probe.connect(path)
                except OSError:
                    return
        time.sleep(0.01)


def run_kills(executable: str, runs: int, seed: int) -> None:
    rng = random.Random(seed)

    def initialize() -> bool:
        return quillmark.initialize(path=executable)

    # How long each call takes when nothing goes wrong, to kill inside it.
    durations = {}
    for name in KILL_CALLS:
        assert initialize(), quillmark.last_error()
        durations[name] = timed(KILL_CALLS[name][0])[2]
    quillmark.shutdown()

    for run in range(runs):
        name = rng.choice(sorted(KILL_CALLS))
        assert initialize(), quillmark.last_error()
        pids = terminal_pids(executable)
        delay = rng.uniform(0, durations[name] * 1.2)
        killer = os.fork()
        if killer == 0:
            try:
                time.sleep(delay)
                for pid in pids:
                    os.kill(pid, signal.SIGKILL)
            finally:
                os._exit(0)
        outcome = one_run(lambda: True, name, KILL_CALLS)
        os.waitpid(killer, 0)
        wait_until_gone(executable)
        outcome.update(run=run, delay=delay, duration=durations[name])
        quillmark.shutdown()
        # initialize starts the terminal again.
        outcome["recovered"] = initialize() and quillmark.symbols_total() is not None
        quillmark.shutdown()
        print(json.dumps(outcome), flush=True)


if __name__ == "__main__":
    if sys.argv[1] == "cut":
        run_cuts(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
    else:
        run_kills(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
