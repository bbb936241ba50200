"""Charts with value and time axes (candlesticks of bars, and balance and
equity curves), as PNGs written with zlib alone, so that the package draws
them without a plotting library."""

from __future__ import annotations

import datetime as _dt
import struct
import zlib
from typing import Any, Dict, Optional, Sequence, Tuple

import numpy.typing as npt

Color = Tuple[int, int, int]
BACKGROUND: Color = (250, 250, 247)
GRID: Color = (225, 225, 220)
UP: Color = (38, 166, 91)
DOWN: Color = (214, 69, 65)
FRAME: Color = (120, 120, 120)
TEXT: Color = (40, 40, 40)
BALANCE: Color = (52, 101, 164)
EQUITY: Color = (38, 166, 91)
DRAWDOWN: Color = (246, 200, 196)

# A 5 x 7 pixel font: each glyph is seven rows of five bits, the high bit on
# the left. Lower-case letters are drawn as capitals.
GLYPHS: Dict[str, Tuple[int, ...]] = {
    "0": (0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E),
    "1": (0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E),
    "2": (0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F),
    "3": (0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E),
    "4": (0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02),
    "5": (0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E),
    "6": (0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E),
    "7": (0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08),
    "8": (0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E),
    "9": (0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C),
    "A": (0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11),
    "B": (0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E),
    "C": (0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E),
    "D": (0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C),
    "E": (0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F),
    "F": (0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10),
    "G": (0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F),
    "H": (0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11),
    "I": (0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E),
    "J": (0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C),
    "K": (0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11),
    "L": (0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F),
    "M": (0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11),
    "N": (0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11),
    "O": (0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E),
    "P": (0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10),
    "Q": (0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D),
    "R": (0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11),
    "S": (0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E),
    "T": (0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04),
    "U": (0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E),
    "V": (0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04),
    "W": (0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A),
    "X": (0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11),
    "Y": (0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04),
    "Z": (0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F),
    ".": (0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C),
    ",": (0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08),
    ":": (0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00),
    "-": (0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00),
    "(": (0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02),
    ")": (0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08),
    "/": (0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00),
    " ": (0x00,) * 7,
}
GLYPH_WIDTH, GLYPH_HEIGHT, GLYPH_ADVANCE = 5, 7, 6


class Canvas:
    def __init__(self, width: int, height: int) -> None:
        self.width = width
        self.height = height
        self.pixels = bytearray(bytes(BACKGROUND) * (width * height))

    def fill(self, x0: int, y0: int, x1: int, y1: int, color: Color) -> None:
        x0, x1 = max(0, min(x0, x1)), min(self.width - 1, max(x0, x1))
        y0, y1 = max(0, min(y0, y1)), min(self.height - 1, max(y0, y1))
        if x0 > x1 or y0 > y1:
            return
        row = bytes(color) * (x1 - x0 + 1)
        for y in range(y0, y1 + 1):
            start = (y * self.width + x0) * 3
            self.pixels[start:start + len(row)] = row

    def text(self, x: int, y: int, text: str, color: Color = TEXT, scale: int = 1) -> None:
        """Draw `text` with its top left corner at (x, y)."""
        for i, char in enumerate(text.upper()):
            rows = GLYPHS.get(char, GLYPHS[" "])
            left = x + i * GLYPH_ADVANCE * scale
            for row, bits in enumerate(rows):
                for column in range(GLYPH_WIDTH):
                    if bits & (0x10 >> column):
                        px, py = left + column * scale, y + row * scale
                        self.fill(px, py, px + scale - 1, py + scale - 1, color)

    def png(self) -> bytes:
        def chunk(kind: bytes, data: bytes) -> bytes:
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        stride = self.width * 3
        raw = b"".join(b"\x00" + bytes(self.pixels[y * stride:(y + 1) * stride])
                       for y in range(self.height))
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def text_width(text: str, scale: int = 1) -> int:
    return len(text) * GLYPH_ADVANCE * scale - scale


def _draw_axes(canvas: Canvas, box: Tuple[int, int, int, int], low: float, span: float,
               marks: Sequence[Tuple[int, int]], title: str, unit: str, digits: int) -> None:
    """Title, a grid and labels for values from `low` to `low + span` on the
    left, and time marks (x, seconds since 1970 UTC) along the bottom."""
    left, top, right, bottom = box
    canvas.text(left, 8, title, scale=2)
    canvas.text(4, top - 14, unit)
    for i in range(5):
        value = low + i * span / 4
        level = int(round(bottom - (value - low) / span * (bottom - top)))
        canvas.fill(left, level, right, level, GRID)
        label = f"{value:.{digits}f}"
        canvas.text(left - 6 - text_width(label), level - GLYPH_HEIGHT // 2, label)
    canvas.fill(left, top, left, bottom, FRAME)
    canvas.fill(left, bottom, right, bottom, FRAME)
    for x, seconds in marks:
        canvas.fill(x, bottom, x, bottom + 4, FRAME)
        stamp = _dt.datetime.fromtimestamp(seconds, _dt.timezone.utc)
        label = stamp.strftime("%m-%d %H:%M")
        label_x = min(max(0, x - text_width(label) // 2), canvas.width - 1 - text_width(label))
        canvas.text(label_x, bottom + 8, label)
    axis = "Time (UTC)"
    canvas.text((left + right - text_width(axis)) // 2, bottom + 22, axis)


def candlestick_png(bars: npt.NDArray[Any], width: int = 960, height: int = 480,
                    title: str = "", digits: int = 5) -> bytes:
    """Candles of the bars (fields time, open, high, low, close), oldest on
    the left, under a price axis on the left and a UTC time axis below."""
    canvas = Canvas(width, height)
    left, right, top, bottom = 72, width - 16, 32, height - 40
    high = max(float(b["high"]) for b in bars)
    low = min(float(b["low"]) for b in bars)
    span = (high - low) or 1.0

    def y(price: float) -> int:
        return int(round(bottom - (price - low) / span * (bottom - top)))

    step = (right - left) / len(bars)
    ticks = min(len(bars), 5)
    indexes = [i * (len(bars) - 1) // max(1, ticks - 1) for i in range(ticks)]
    marks = [(int(left + step * (i + 0.5)), int(bars[i]["time"])) for i in indexes]
    _draw_axes(canvas, (left, top, right, bottom), low, span, marks, title, "Price", digits)
    body = max(1, int(step * 0.35))
    for i, bar in enumerate(bars):
        x = int(left + step * (i + 0.5))
        color = UP if bar["close"] >= bar["open"] else DOWN
        canvas.fill(x, y(bar["high"]), x, y(bar["low"]), color)
        canvas.fill(x - body, y(bar["open"]), x + body, y(bar["close"]), color)
    return canvas.png()


def curves_png(times: Sequence[int], balance: Sequence[float],
               equity: Optional[Sequence[float]] = None, width: int = 960, height: int = 480,
               title: str = "", unit: str = "") -> bytes:
    """Balance (and equity) over time, sampled at `times` and drawn as steps,
    with the fall of the lower curve below its running peak shaded."""
    canvas = Canvas(width, height)
    left, right, top, bottom = 88, width - 16, 32, height - 40
    curves = [balance] + ([equity] if equity is not None else [])
    low = min(min(c) for c in curves)
    high = max(max(c) for c in curves)
    # A margin above and below keeps the curves off the frame.
    margin = (high - low) * 0.05 or 1.0
    low, span = low - margin, high - low + 2 * margin

    def y(value: float) -> int:
        return int(round(bottom - (value - low) / span * (bottom - top)))

    first, last = times[0], times[-1]
    stretch = (last - first) or 1

    def column(t: float) -> int:
        return left + 1 + int((t - first) / stretch * (right - left - 2))

    stamps = [first + stretch * i // 4 for i in range(5)] if last > first else [first]
    _draw_axes(canvas, (left, top, right, bottom), low, span,
               [(column(t), t) for t in stamps], title, unit, 2)

    # Each sample holds until the next one's column.
    shaded = curves[-1]
    peak = shaded[0]
    for i, t in enumerate(times):
        peak = max(peak, shaded[i])
        x0 = column(t)
        x1 = column(times[i + 1]) if i + 1 < len(times) else right - 1
        if peak > shaded[i]:
            canvas.fill(x0, y(peak), x1, y(shaded[i]), DRAWDOWN)
    # Balance last, so that it stays visible where the two curves meet.
    for curve, color in reversed(list(zip(curves, (BALANCE, EQUITY)))):
        for i, t in enumerate(times):
            x0 = column(t)
            x1 = column(times[i + 1]) if i + 1 < len(times) else right - 1
            canvas.fill(x0, y(curve[i]), x1, y(curve[i]), color)
            if i + 1 < len(times):
                canvas.fill(x1, y(curve[i]), x1, y(curve[i + 1]), color)
    legend = [("Balance", BALANCE)] + ([("Equity", EQUITY)] if equity is not None else [])
    legend.append(("Drawdown", DRAWDOWN))
    x = right
    for name, color in reversed(legend):
        x -= text_width(name) + 24
        canvas.fill(x, 10, x + 10, 18, color)
        canvas.text(x + 14, 11, name)
    return canvas.png()
