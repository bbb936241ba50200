"""Peak memory of one large call, measured in a process of its own.

    python bench/peak_memory.py module|pure EXE rates|ticks ARGS...

Prints one JSON object: the resident set just before the call, the peak
resident set during it (both in KiB, from /proc/self/status) and the size of
the array it returned, so that the caller can compare the growth with the
array. The peak is reset right before the call, so what the imports and the
connection took beforehand does not count.
"""

from __future__ import annotations

import json
import sys
from pathlib import Path
from typing import Callable, Dict, List, Optional

import numpy as np


def status_kib(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"no {field} in /proc/self/status")


def reset_peak() -> None:
    # Writing 5 to clear_refs starts VmHWM again from the current VmRSS.
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")


def module_calls(exe: str) -> Dict[str, Callable[..., Optional[np.ndarray]]]:
    import quillmark as mt

    if not mt.initialize(path=exe):
        raise RuntimeError(f"initialize failed: {mt.last_error()}")
    return {"rates": mt.copy_rates_from_pos, "ticks": mt.copy_ticks_range}


def pure_calls(exe: str) -> Dict[str, Callable[..., Optional[np.ndarray]]]:
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    from pure_python_client import PureClient, socket_path_for

    client = PureClient(socket_path_for(exe))
    return {"rates": client.copy_rates_from_pos, "ticks": client.copy_ticks_range}


def main(argv: List[str]) -> int:
    client, exe, what = argv[1], argv[2], argv[3]
    args: List[object] = [argv[4]] + [int(value) for value in argv[5:]]
    calls = module_calls(exe) if client == "module" else pure_calls(exe)
    reset_peak()
    before = status_kib("VmRSS")
    array = calls[what](*args)
    peak = status_kib("VmHWM")
    if array is None:
        raise RuntimeError(f"{what} returned nothing")
    print(json.dumps({"rss_before": before, "peak": peak, "nbytes": int(array.nbytes)}))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
