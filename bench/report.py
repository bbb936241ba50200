"""How long ``python -m quillmark report`` takes for an account with many
open positions, with the replay's terminal running (equity rebuilt from its
bars) and after it stopped (the balance alone).

    python bench/report.py [POSITIONS ...]

Each size gets a replay folder of its own in a temporary folder, whose
terminal opens that many test positions (and as many deals) at start.
"""

from __future__ import annotations

import os
import sys
import tempfile
import time
from pathlib import Path
from typing import List

from quillmark import replays
from quillmark.report import write_report


def seconds_to_report(folder: Path) -> float:
    began = time.perf_counter()
    write_report(str(folder))
    return time.perf_counter() - began


def main(sizes: List[int]) -> None:
    with tempfile.TemporaryDirectory() as scratch:
        # The terminal's markers go to the scratch folder, not the user's.
        os.environ["XDG_DATA_HOME"] = scratch
        print(f"{'positions':>10} {'running (s)':>12} {'stopped (s)':>12}")
        for size in sizes:
            folder = Path(scratch) / f"run-{size}"
            replays.prepare(folder)
            replays.start_terminal(folder, ["--positions", str(size)])
            try:
                running = seconds_to_report(folder)
            finally:
                replays.stop(folder)
            print(f"{size:>10} {running:>12.3f} {seconds_to_report(folder):>12.3f}")


if __name__ == "__main__":
    main([int(arg) for arg in sys.argv[1:]] or [100, 1000, 10000])
