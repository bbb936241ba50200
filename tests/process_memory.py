"""Resident memory of the test process, for tests that repeated calls keep
nothing (Linux only: it reads /proc/self/statm)."""

from __future__ import annotations

import os


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
