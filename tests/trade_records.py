"""Wire records of positions, orders and deals for scripted terminal replies."""

from __future__ import annotations

import struct

from wire import u32, utf16_field

POSITION_SIZE = 320
ORDER_SIZE = 340
DEAL_SIZE = 300

U32_MAX = 0xFFFFFFFF
U64_MAX = 0xFFFFFFFFFFFFFFFF
I64_MIN = -(2**63)


def text_or_raw(value: str | bytes) -> bytes:
    """A 32-unit text field: a str is NUL-padded, bytes are taken as they are."""
    if isinstance(value, bytes):
        assert len(value) == 64
        return value
    return utf16_field(value, 32)


def position_record(
    *,
    ticket: int = 1,
    times: tuple[int, int, int, int] = (0, 0, 0, 0),
    type: int = 0,
    magic: int = 0,
    identifier: int = 0,
    reason: int = 0,
    prices: tuple[float, ...] = (0.0,) * 5,
    reserved: bytes = b"\0" * 8,
    swap: float = 0.0,
    profit: float = 0.0,
    symbol: str | bytes = "EURUSD",
    comment: str | bytes = "",
    external_id: str | bytes = "",
) -> bytes:
    """prices: volume, price_open, sl, tp, price_current."""
    data = (
        struct.pack("<Q4qIQQI5d", ticket, *times, type, magic, identifier, reason, *prices)
        + reserved
        + struct.pack("<dd", swap, profit)
        + text_or_raw(symbol)
        + text_or_raw(comment)
        + text_or_raw(external_id)
    )
    assert len(data) == POSITION_SIZE
    return data


def order_record(
    *,
    ticket: int = 1,
    times: tuple[int, ...] = (0,) * 5,
    kinds: tuple[int, int, int, int] = (0, 0, 0, 0),
    magic: int = 0,
    position_id: int = 0,
    position_by_id: int = 0,
    reason: int = 0,
    prices: tuple[float, ...] = (0.0,) * 7,
    symbol: str | bytes = "EURUSD",
    comment: str | bytes = "",
    external_id: str | bytes = "",
) -> bytes:
    """times: setup, setup_msc, done, done_msc, expiration; kinds: type,
    type_time, type_filling, state; prices: volume_initial .. price_stoplimit."""
    data = (
        struct.pack("<Q5q4I3QI7d", ticket, *times, *kinds, magic, position_id, position_by_id,
                    reason, *prices)
        + text_or_raw(symbol)
        + text_or_raw(comment)
        + text_or_raw(external_id)
    )
    assert len(data) == ORDER_SIZE
    return data


def deal_record(
    *,
    ticket: int = 1,
    order: int = 0,
    times: tuple[int, int] = (0, 0),
    type: int = 0,
    entry: int = 0,
    magic: int = 0,
    position_id: int = 0,
    reason: int = 0,
    amounts: tuple[float, ...] = (0.0,) * 6,
    symbol: str | bytes = "EURUSD",
    comment: str | bytes = "",
    external_id: str | bytes = "",
) -> bytes:
    """amounts: volume, price, commission, swap, profit, fee."""
    data = (
        struct.pack("<QQ2q2IQQI6d", ticket, order, *times, type, entry, magic, position_id,
                    reason, *amounts)
        + text_or_raw(symbol)
        + text_or_raw(comment)
        + text_or_raw(external_id)
    )
    assert len(data) == DEAL_SIZE
    return data


def counted(records: list[bytes]) -> bytes:
    """A counted array: the u32 count, then the records back to back."""
    return u32(len(records)) + b"".join(records)
