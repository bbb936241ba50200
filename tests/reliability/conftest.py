"""Fixtures of the reliability tests: the bundled terminal in a private home,
and the request frames of real exchanges kept with the fuzz corpus."""

from __future__ import annotations

import os
import struct
from pathlib import Path
from typing import List

import pytest

from terminal_tools import TerminalHome

ROOT = Path(__file__).resolve().parents[2]
FUZZ = ROOT / "fuzz"

# Set by tests/reliability/sanitizers.sh: memory figures mean nothing under
# AddressSanitizer, whose quarantine holds freed memory on purpose.
SANITIZED = os.environ.get("QUILLMARK_SANITIZED") == "1"


@pytest.fixture
def terminal(home: TerminalHome) -> TerminalHome:
    """The bundled terminal, running, in a home of its own."""
    home.start()
    return home


def split_frames(data: bytes) -> List[bytes]:
    """Length-prefixed frames, back to back; a torn tail is left out."""
    frames = []
    at = 0
    while at + 4 <= len(data):
        (length,) = struct.unpack_from("<I", data, at)
        if at + 4 + length > len(data):
            break
        frames.append(data[at : at + 4 + length])
        at += 4 + length
    return frames


def corpus_requests() -> List[bytes]:
    """Every distinct request the module sent in the captured exchanges."""
    seen = {}
    for path in sorted((FUZZ / "corpus" / "request").iterdir()):
        for frame in split_frames(path.read_bytes()):
            seen.setdefault(frame, None)
    return list(seen)
