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
from quillmark.chart import DRAWDOWN, GLYPHS, TEXT, candlestick_png, curves_png
from quillmark.terminal import terminal_pids
from terminal_tools import socket_served
from wire import socket_path


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


def colors_in(rows: list, x0: int, x1: int, y0: int, y1: int) -> set:
    """The colors of the pixels in columns x0..x1-1 and rows y0..y1-1."""
    return {bytes(rows[y][x * 3:x * 3 + 3]) for y in range(y0, y1) for x in range(x0, x1)}


def test_chart_draws_candles_inside_its_price_and_time_axes() -> None:
    bars = np.array([(1765000800, 1.0, 1.5, 0.9, 1.4), (1765004400, 1.4, 1.45, 1.0, 1.1)],
                    dtype=[("time", "<i8"), ("open", "<f8"), ("high", "<f8"), ("low", "<f8"),
                           ("close", "<f8")])
    width, height, rows = read_png(candlestick_png(bars, width=400, height=300,
                                                   title="EURUSD H1", digits=2))
    assert (width, height) == (400, 300)
    up, down, text = bytes((38, 166, 91)), bytes((214, 69, 65)), bytes(TEXT)
    # The plot lies right of x=72 and between y=32 and y=260: the rising
    # candle on its left half, the falling one on its right half.
    assert up in colors_in(rows, 72, 228, 32, 260) and down not in colors_in(rows, 72, 228, 32, 260)
    assert down in colors_in(rows, 228, 384, 32, 260) and up not in colors_in(rows, 228, 384, 32, 260)
    # Price labels to the left of the plot, times and the axis name below it,
    # and no text over the candles.
    assert text in colors_in(rows, 0, 66, 32, 260)
    assert text in colors_in(rows, 72, 384, 262, 300)
    assert text not in colors_in(rows, 73, 384, 33, 259)



def test_curves_shade_the_fall_below_the_peak_and_nothing_else() -> None:
    times = [1765000800 + 3600 * i for i in range(4)]
    falling = curves_png(times, [100.0, 110.0, 110.0, 110.0], [100.0, 120.0, 90.0, 115.0],
                         width=400, height=300)
    rising = curves_png(times, [100.0, 110.0, 120.0, 130.0], None, width=400, height=300)
    _, _, rows = read_png(falling)
    plot = (89, 382, 33, 259)
    shade = bytes(DRAWDOWN)
    # Shaded from the third sample on (the middle of the plot), not before.
    assert shade in colors_in(rows, 240, 382, 33, 259)
    assert shade not in colors_in(rows, 89, 230, 33, 259)
    _, _, rows = read_png(rising)
    assert shade not in colors_in(rows, *plot)


def test_every_glyph_is_seven_rows_of_five_bits() -> None:
    assert all(len(rows) == 7 and all(0 <= bits < 32 for bits in rows)
               for rows in GLYPHS.values())
    assert len({rows for char, rows in GLYPHS.items() if char != " "}) == len(GLYPHS) - 1


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
    # Not only what the package itself sees: nothing serves the pipe any more.
    assert not socket_served(socket_path(quillmark.terminal_path()))
