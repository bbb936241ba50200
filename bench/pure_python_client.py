"""What a user would write instead of the extension: the terminal's protocol
spoken with ``socket``, ``struct`` and ``numpy.frombuffer``.

Records become named tuples with the same fields, in the same order, as the
extension's records, so the two can be compared value for value. Bars and
ticks become NumPy arrays over the received bytes, without a copy.
"""

from __future__ import annotations

import hashlib
import os
import socket
import struct
from collections import namedtuple
from typing import Iterable, List, Optional, Tuple, Union

import numpy as np

Buffer = Union[bytes, bytearray, memoryview]

CMD_HANDSHAKE = 4
CMD_TICKS_RANGE = 105
CMD_RATES_FROM_POS = 108
CMD_POSITIONS_TOTAL = 120
CMD_POSITIONS_GET = 121
CMD_SYMBOL_INFO = 170
CMD_SYMBOL_INFO_TICK = 172
CMD_SYMBOLS_GET = 174


class TerminalError(Exception):
    """A negative status from the terminal, or a reply that does not fit."""


def socket_path_for(exe: str) -> str:
    """The socket of the terminal at `exe`: the SHA-256 of its lower-cased
    real path in UTF-16LE, in upper-case hexadecimal."""
    canonical = os.path.realpath(exe).lower()
    digest = hashlib.sha256(canonical.encode("utf-16-le")).hexdigest().upper()
    return f"/tmp/zrv-{os.getuid()}/ZRV.Terminal.{digest}"


def counted_text(value: str) -> bytes:
    units = value.encode("utf-16-le", "surrogatepass")
    return struct.pack("<I", len(units) // 2) + units


def request_bytes(command: int, payload: bytes = b"") -> bytes:
    """A whole request: its length, the command and the payload."""
    return struct.pack("<II", 4 + len(payload), command) + payload


def wire_text(raw: bytes) -> str:
    """A fixed UTF-16 field: the text before its first NUL."""
    text = raw.decode("utf-16-le", "surrogatepass")
    end = text.find("\x00")
    return text if end < 0 else text[:end]


# Bars and ticks: packed 60-byte records, used as array elements as they are.
RATES_DTYPE = np.dtype(
    {
        "names": ["time", "open", "high", "low", "close", "tick_volume", "spread", "real_volume"],
        "formats": ["<i8", "<f8", "<f8", "<f8", "<f8", "<u8", "<i4", "<u8"],
        "offsets": [0, 8, 16, 24, 32, 40, 48, 52],
        "itemsize": 60,
    }
)
TICKS_DTYPE = np.dtype(
    {
        "names": ["time", "bid", "ask", "last", "volume", "time_msc", "flags", "volume_real"],
        "formats": ["<i8", "<f8", "<f8", "<f8", "<u8", "<i8", "<u4", "<f8"],
        "offsets": [0, 8, 16, 24, 32, 40, 48, 52],
        "itemsize": 60,
    }
)

Tick = namedtuple("Tick", "time bid ask last volume time_msc flags volume_real")
TICK = struct.Struct("<qdddQqId")

TradePosition = namedtuple(
    "TradePosition",
    "ticket time time_msc time_update time_update_msc type magic identifier reason volume "
    "price_open sl tp price_current swap profit symbol comment external_id",
)
# The 8 bytes after price_current are reserved.
POSITION = struct.Struct("<QqqqqIQQI5d8xdd64s64s64s")
POSITION_SYMBOL = slice(128, 192)

SYMBOL_NUMBERS = (
    "custom chart_mode select visible session_deals session_buy_orders session_sell_orders "
    "volume volumehigh volumelow time digits spread spread_float ticks_bookdepth "
    "trade_calc_mode trade_mode start_time expiration_time trade_stops_level "
    "trade_freeze_level trade_exemode swap_mode swap_rollover3days margin_hedged_use_leg "
    "expiration_mode filling_mode order_mode order_gtc_mode option_mode option_right "
    "bid bidhigh bidlow ask askhigh asklow last lasthigh lastlow volume_real volumehigh_real "
    "volumelow_real option_strike point trade_tick_value trade_tick_value_profit "
    "trade_tick_value_loss trade_tick_size trade_contract_size trade_accrued_interest "
    "trade_face_value trade_liquidity_rate volume_min volume_max volume_step volume_limit "
    "swap_long swap_short margin_initial margin_maintenance session_volume session_turnover "
    "session_interest session_buy_orders_volume session_sell_orders_volume session_open "
    "session_close session_aw session_price_settlement session_price_limit_min "
    "session_price_limit_max margin_hedged price_change price_volatility price_theoretical "
    "price_greeks_delta price_greeks_theta price_greeks_gamma price_greeks_vega "
    "price_greeks_rho price_greeks_omega price_sensitivity"
).split()
SymbolInfo = namedtuple(  # type: ignore[misc]
    "SymbolInfo",
    SYMBOL_NUMBERS
    + "basis category currency_base currency_profit currency_margin bank description "
    "exchange formula isin name page path".split(),
)
# On the wire the name comes last; in the record it sits between isin and page.
SYMBOL = struct.Struct(
    "<BIBB6QqIiBIIIqqiiIIIBiiiIII52d64s128s32s32s32s512s128s128s512s32s512s256s64s"
)
SYMBOL_FLAGS = (0, 2, 3, 13, 24)
SYMBOL_TEXTS = len(SYMBOL_NUMBERS)

assert TICK.size == 60 and POSITION.size == 320 and SYMBOL.size == 2993


def decode_tick(raw: Buffer) -> Tick:
    return Tick._make(TICK.unpack(raw))


def decode_position(raw: Buffer, offset: int = 0) -> TradePosition:
    values = list(POSITION.unpack_from(raw, offset))
    values[16:19] = [wire_text(text) for text in values[16:19]]
    return TradePosition._make(values)


def decode_symbol(raw: Buffer, offset: int = 0) -> SymbolInfo:
    values: List[object] = list(SYMBOL.unpack_from(raw, offset))
    for index in SYMBOL_FLAGS:
        values[index] = values[index] != 0
    texts = [wire_text(text) for text in values[SYMBOL_TEXTS:]]  # type: ignore[arg-type]
    name = texts.pop()
    texts.insert(10, name)
    return SymbolInfo._make(values[:SYMBOL_TEXTS] + texts)


def pattern_match(pattern: str, symbol: str) -> bool:
    """One wildcard pattern: '*' is any run, every other character itself, and
    a failed attempt after '*' resumes at the character that failed."""
    pattern = pattern.lstrip("!")
    if not pattern:
        return True
    p, s, restart = 0, 0, -1
    while True:
        if p < len(pattern) and pattern[p] == "*":
            while p < len(pattern) and pattern[p] == "*":
                p += 1
            if p == len(pattern):
                return True
            restart = p
        if s == len(symbol):
            return p == len(pattern)
        if p == len(pattern):
            if restart < 0:
                return False
            p = restart
            continue
        if pattern[p] == symbol[s]:
            p += 1
            s += 1
            continue
        if restart < 0:
            return False
        if p == restart:
            s += 1
        else:
            p = restart


def mask_patterns(mask: str) -> List[str]:
    """The patterns of a comma-separated mask, at most 255 characters each."""
    mask = mask.split("\x00", 1)[0]
    patterns = []
    for item in mask.split(","):
        item = item.lstrip(" ")[:255].rstrip(" ")
        if item:
            patterns.append(item)
    return patterns


def mask_match(patterns: Iterable[str], symbol: str) -> bool:
    """A symbol passes when an inclusion pattern matches it and no exclusion
    pattern ('!' first) does."""
    passes = False
    for pattern in patterns:
        if pattern_match(pattern, symbol):
            if pattern.startswith("!"):
                return False
            passes = True
    return passes


class PureClient:
    """One connection to the terminal; every call is one request and reply."""

    def __init__(self, socket_path: str, timeout: Optional[float] = 30.0) -> None:
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        self.sock.connect(socket_path)
        reply = self.call(CMD_HANDSHAKE, struct.pack("<I", 3) + counted_text("Python"))
        (self.build,) = struct.unpack("<I", reply)

    def close(self) -> None:
        self.sock.close()

    def __enter__(self) -> "PureClient":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _receive_into(self, view: memoryview) -> None:
        while view:
            got = self.sock.recv_into(view)
            if got == 0:
                raise TerminalError("terminal closed the connection")
            view = view[got:]

    def call(self, command: int, payload: bytes = b"") -> memoryview:
        """The reply's payload after the echoed command and the status."""
        self.sock.sendall(request_bytes(command, payload))
        head = bytearray(4)
        self._receive_into(memoryview(head))
        (length,) = struct.unpack("<I", head)
        body = bytearray(length)
        self._receive_into(memoryview(body))
        if length < 8:
            raise TerminalError("reply too short")
        echoed, status = struct.unpack_from("<Ii", body)
        if echoed != command:
            raise TerminalError(f"reply to command {echoed}, not {command}")
        if status < 0:
            raise TerminalError(f"status {status}")
        return memoryview(body)[8:]

    def _counted(self, payload: memoryview, size: int) -> Tuple[int, memoryview]:
        (count,) = struct.unpack_from("<I", payload)
        if len(payload) != 4 + count * size:
            raise TerminalError("reply length does not match its count")
        return count, payload[4:]

    def positions_total(self) -> int:
        (total,) = struct.unpack("<I", self.call(CMD_POSITIONS_TOTAL))
        return total

    def symbol_info_tick(self, symbol: str) -> Tick:
        return decode_tick(bytes(self.call(CMD_SYMBOL_INFO_TICK, counted_text(symbol))))

    def symbol_info(self, symbol: str) -> SymbolInfo:
        return decode_symbol(bytes(self.call(CMD_SYMBOL_INFO, counted_text(symbol))))

    def symbols_get(self) -> Tuple[SymbolInfo, ...]:
        count, records = self._counted(self.call(CMD_SYMBOLS_GET), SYMBOL.size)
        return tuple(decode_symbol(records, i * SYMBOL.size) for i in range(count))

    def positions_get(self, group: Optional[str] = None) -> Tuple[TradePosition, ...]:
        count, records = self._counted(self.call(CMD_POSITIONS_GET), POSITION.size)
        size = POSITION.size
        if group is None:
            return tuple(decode_position(records, i * size) for i in range(count))
        patterns = mask_patterns(group)
        kept = []
        for i in range(count):
            raw = records[i * size : (i + 1) * size]
            if mask_match(patterns, wire_text(bytes(raw[POSITION_SYMBOL]))):
                kept.append(decode_position(raw))
        return tuple(kept)

    def _records(self, command: int, payload: bytes, dtype: np.dtype) -> np.ndarray:
        count, records = self._counted(self.call(command, payload), dtype.itemsize)
        return np.frombuffer(records, dtype=dtype, count=count)

    def copy_rates_from_pos(
        self, symbol: str, timeframe: int, start_pos: int, count: int
    ) -> np.ndarray:
        payload = counted_text(symbol) + struct.pack("<iii", timeframe, start_pos, count)
        return self._records(CMD_RATES_FROM_POS, payload, RATES_DTYPE)

    def copy_ticks_range(self, symbol: str, date_from: int, date_to: int, flags: int) -> np.ndarray:
        """Times in seconds, sent as milliseconds as the extension does."""
        payload = counted_text(symbol) + struct.pack(
            "<qqi", int(date_from) * 1000, int(date_to) * 1000, flags
        )
        return self._records(CMD_TICKS_RANGE, payload, TICKS_DTYPE)
