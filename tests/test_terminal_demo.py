"""``python -m quillmark demo`` against the installed terminal, and its chart."""

from __future__ import annotations

import os
import struct
import subprocess
import sys
import zlib
from pathlib import Path

import numpy as np

import quillmark
from quillmark.demo import candlestick_png
from quillmark.terminal import terminal_pids


def read_png(data: bytes) -> tuple:
    """(width, height, rows of RGB bytes), checking every chunk's CRC."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks = 8, {}
    while at < len(data):
        (size,) = struct.unpack(">I", data[at:at + 4])
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + size]
        (crc,) = struct.unpack(">I", data[at + 8 + size:at + 12 + size])
        assert crc == zlib.crc32(kind + body)
        chunks[kind] = chunks.get(kind, b"") + body
        at += 12 + size
    width, height, depth, color = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (depth, color) == (8, 2)
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = 1 + 3 * width
    assert len(raw) == height * stride
    return width, height, [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]


def test_chart_draws_rising_and_falling_candles() -> None:
    bars = np.array([(0, 1.0, 1.5, 0.9, 1.4), (60, 1.4, 1.45, 1.0, 1.1)],
                    dtype=[("time", "<i8"), ("open", "<f8"), ("high", "<f8"), ("low", "<f8"),
                           ("close", "<f8")])
    width, height, rows = read_png(candlestick_png(bars, width=200, height=100))
    assert (width, height) == (200, 100)
    pixels = b"".join(rows)
    colors = {pixels[i:i + 3] for i in range(0, len(pixels), 3)}
    assert bytes((38, 166, 91)) in colors and bytes((214, 69, 65)) in colors
    # The rising candle is on the left half, the falling one on the right.
    middle = rows[50]
    left, right = middle[:300], middle[300:]
    assert bytes((38, 166, 91)) in left and bytes((214, 69, 65)) in right


def test_demo_runs_and_stops_its_terminal(tmp_path: Path) -> None:
    assert not terminal_pids(quillmark.terminal_path()), "installed terminal already running"
    env = dict(os.environ)
    env["XDG_DATA_HOME"] = str(tmp_path / "data")  # the demo picks its own inside anyway
    result = subprocess.run(
        [sys.executable, "-m", "quillmark", "demo", "--seconds", "1", "--output", str(tmp_path),
         "--symbol", "BTCUSD"],
        capture_output=True, text=True, timeout=60, env=env)
    assert result.returncode == 0, result.stderr
    out = result.stdout
    for expected in ("Account    10001", "EURUSD", "Last H1 bars of BTCUSD", "Live ticks",
                     "Terminal stopped."):
        assert expected in out
    chart = tmp_path / "quillmark_BTCUSD_H1.png"
    assert f"saved to {chart}" in out
    width, height, _ = read_png(chart.read_bytes())
    assert (width, height) == (960, 480)
    assert not terminal_pids(quillmark.terminal_path())
