"""Resident memory of the test process, for tests that repeated calls keep
nothing, and of other processes (Linux only: it reads /proc)."""

from __future__ import annotations

import os


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def process_memory_bytes(pid: int, field: str = "VmRSS") -> int:
    """A memory figure of a process from /proc/<pid>/status: VmRSS, or
    VmHWM for its peak."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise AssertionError(f"no {field}")
