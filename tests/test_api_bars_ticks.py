"""copy_rates_* and copy_ticks_* against a scripted terminal: requests,
arrays over the received records, and failures."""

from __future__ import annotations

import datetime
import os
import struct
import sys
from typing import Any, Callable

import numpy as np
import pytest

import quillmark
from process_memory import resident_bytes
from wire import i32, i64, request, text, u32

TICKS_FROM, TICKS_RANGE, RATES_FROM, RATES_RANGE, RATES_FROM_POS = 104, 105, 106, 107, 108

U64_MAX = 0xFFFFFFFFFFFFFFFF
I64_MIN = -(2**63)
UTC = datetime.timezone.utc

RATE_FIELDS = [("time", 0, 9), ("open", 8, 12), ("high", 16, 12), ("low", 24, 12),
               ("close", 32, 12), ("tick_volume", 40, 10), ("spread", 48, 5),
               ("real_volume", 52, 10)]
TICK_FIELDS = [("time", 0, 9), ("bid", 8, 12), ("ask", 16, 12), ("last", 24, 12),
               ("volume", 32, 10), ("time_msc", 40, 9), ("flags", 48, 6),
               ("volume_real", 52, 12)]


def rate(time: int, prices: tuple[float, float, float, float], tick_volume: int, spread: int,
         real_volume: int) -> bytes:
    return struct.pack("<q4dQiQ", time, *prices, tick_volume, spread, real_volume)


def tick(time: int, prices: tuple[float, float, float], volume: int, time_msc: int, flags: int,
         volume_real: float) -> bytes:
    return struct.pack("<q3dQqId", time, *prices, volume, time_msc, flags, volume_real)


RATES = [
    rate(I64_MIN, (1.0, 2.0, -3.0, 4.5), U64_MAX, -(2**31), U64_MAX),
    rate(2**63 - 1, (float("inf"), 0.0, -0.0, 1e-300), 0, 2**31 - 1, 2**63),
    rate(1700000000, (1.1, 1.2, 1.0, 1.15), 12345, 7, 1),
]
TICKS = [
    tick(-1, (1.5, 1.6, 0.0), U64_MAX, I64_MIN, 0xFFFFFFFF, -2.5),
    tick(1700000000, (1.1, 1.2, 1.3), 1, 1700000000123, 6, 1e300),
]

# (call, command, request payload after the symbol, record type fields)
CALLS = [
    pytest.param(lambda: quillmark.copy_rates_from("EURUSD", 16385, 1700000000.9, 3),
                 RATES_FROM, i32(16385) + i64(1700000000) + i32(3), id="rates_from"),
    pytest.param(lambda: quillmark.copy_rates_from_pos("EURUSD", -1, -(2**31), 2**31 - 1),
                 RATES_FROM_POS, i32(-1) + i32(-(2**31)) + i32(2**31 - 1), id="rates_from_pos"),
    pytest.param(lambda: quillmark.copy_rates_range("EURUSD", 1, -1, 2**31 - 1),
                 RATES_RANGE, i32(1) + i64(-1) + i64(2**31 - 1), id="rates_range"),
    pytest.param(lambda: quillmark.copy_ticks_from("EURUSD", -1.9, 100, -1),
                 TICKS_FROM, i64(-1000) + i32(100) + i32(-1), id="ticks_from"),
    pytest.param(lambda: quillmark.copy_ticks_range("EURUSD", 2**31 - 1, -(2**31), 6),
                 TICKS_RANGE, i64((2**31 - 1) * 1000) + i64(-(2**31) * 1000) + i32(6),
                 id="ticks_range"),
]


def is_rates(command: int) -> bool:
    return command in (RATES_FROM, RATES_RANGE, RATES_FROM_POS)


@pytest.mark.parametrize(("call", "command", "payload"), CALLS)
def test_records_arrive_in_an_owning_read_only_array(fake_terminal: Any, call: Callable[[], Any],
                                                     command: int, payload: bytes) -> None:
    peer = fake_terminal
    peer.connect()
    records = RATES if is_rates(command) else TICKS
    fields = RATE_FIELDS if is_rates(command) else TICK_FIELDS
    peer.reply(command, 1, u32(len(records)) + b"".join(records))

    array = call()

    assert quillmark.last_error() == (1, "Success")
    assert peer.requests() == [request(command, text("EURUSD") + payload)]
    assert isinstance(array, np.ndarray) and array.ndim == 1 and len(array) == len(records)
    assert array.dtype.itemsize == 60 and array.dtype.flags == 16
    assert array.dtype.names == tuple(name for name, _, _ in fields)
    assert [(array.dtype.fields[n][1], array.dtype.fields[n][0].num) for n, _, _ in fields] == \
        [(offset, number) for _, offset, number in fields]
    assert array.tobytes() == b"".join(records)
    assert array.flags.owndata and not array.flags.writeable and array.flags.c_contiguous
    with pytest.raises(ValueError):
        array[0] = array[1]


def test_values_follow_the_field_types(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(RATES_FROM_POS, 1, u32(len(RATES)) + b"".join(RATES))
    peer.reply(TICKS_FROM, 1, u32(len(TICKS)) + b"".join(TICKS))

    rates = quillmark.copy_rates_from_pos("EURUSD", 1, 0, 3)
    ticks = quillmark.copy_ticks_from("EURUSD", 0, 2, 0)

    assert rates["time"].tolist() == [I64_MIN, 2**63 - 1, 1700000000]
    assert rates["tick_volume"].tolist() == [U64_MAX, 0, 12345]
    assert rates["spread"].tolist() == [-(2**31), 2**31 - 1, 7]
    assert rates["real_volume"].tolist() == [U64_MAX, 2**63, 1]
    assert rates["close"].tolist() == [4.5, 1e-300, 1.15]
    assert ticks["flags"].tolist() == [0xFFFFFFFF, 6]
    assert ticks["time_msc"].tolist() == [I64_MIN, 1700000000123]
    assert ticks["volume"].tolist() == [U64_MAX, 1]
    assert ticks["volume_real"].tolist() == [-2.5, 1e300]


@pytest.mark.parametrize(("call", "command", "payload"), CALLS)
def test_no_records_give_an_empty_array(fake_terminal: Any, call: Callable[[], Any],
                                        command: int, payload: bytes) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(command, 0, u32(0))

    array = call()

    assert isinstance(array, np.ndarray) and array.shape == (0,)
    assert array.dtype.names[:1] == ("time",) and array.dtype.itemsize == 60
    assert not array.flags.writeable
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize("date_from", [
    1600000000,
    1600000000.5,
    datetime.datetime(2020, 9, 13, 12, 26, 40, 500000, tzinfo=UTC),
])
def test_time_forms_send_the_same_request(fake_terminal: Any, date_from: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(RATES_RANGE, 1, u32(0))
    peer.reply(TICKS_RANGE, 1, u32(0))

    quillmark.copy_rates_range("EURUSD", 1, date_from, 1600000001)
    quillmark.copy_ticks_range("EURUSD", date_from, True, 0)

    assert peer.requests() == [
        request(RATES_RANGE, text("EURUSD") + i32(1) + i64(1600000000) + i64(1600000001)),
        request(TICKS_RANGE, text("EURUSD") + i64(1600000000000) + i64(1000) + i32(0)),
    ]


@pytest.mark.parametrize(("function", "args"), [
    (quillmark.copy_rates_from, ("EURUSD", 1, 0)),
    (quillmark.copy_rates_from, ("EURUSD", 1, 0, 1, 1)),
    (quillmark.copy_rates_from, ("EURUSD", 1, datetime.date(2020, 1, 1), 1)),
    (quillmark.copy_rates_from, ("EURUSD", 1, "0", 1)),
    (quillmark.copy_rates_from, ("EURUSD", 1.0, 0, 1)),
    (quillmark.copy_rates_from, ("EURUSD", 2**31, 0, 1)),
    (quillmark.copy_rates_from_pos, (b"EURUSD", 1, 0, 1)),
    (quillmark.copy_rates_from_pos, ("A" * 30, 1, 0, 1)),
    (quillmark.copy_rates_from_pos, (None, 1, 0, 1)),
    (quillmark.copy_rates_range, ("EURUSD", 1, 0, None)),
    (quillmark.copy_ticks_from, ("EURUSD", 0, 1)),
    (quillmark.copy_ticks_from, ("EURUSD", [], 1, 0)),
    (quillmark.copy_ticks_from, ("EURUSD", 0, 1, -(2**31) - 1)),
    (quillmark.copy_ticks_range, ("EURUSD", 0, datetime.date(2020, 1, 1), 0)),
    (quillmark.copy_ticks_range, ("A" * 30, 0, 1, 0)),
])
def test_refused_arguments_send_nothing(fake_terminal: Any, function: Callable[..., Any],
                                        args: tuple[Any, ...]) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(*args) is None
    assert quillmark.last_error() == (-2, "Invalid arguments")
    assert peer.requests() == []


@pytest.mark.parametrize(("reply", "code", "message"), [
    ((RATES_FROM_POS, -4, b""), -4, "Terminal: Not found"),
    ((RATES_FROM_POS, -3, u32(1) + RATES[0]), -3, "Terminal: Out of memory"),
    ((RATES_FROM_POS, 1, u32(2) + RATES[0]), -10002, "IPC recv failed"),
    ((RATES_FROM_POS, 1, u32(1) + RATES[0] + b"\0"), -10002, "IPC recv failed"),
    ((RATES_FROM_POS, 1, u32(1) + RATES[0][:59]), -10002, "IPC recv failed"),
    ((RATES_FROM, 1, u32(1) + RATES[0]), -10000, "IPC call failed"),
    ((RATES_FROM, -4, u32(0)), -10000, "IPC call failed"),
])
def test_reply_faults(fake_terminal: Any, reply: tuple[int, int, bytes], code: int,
                      message: str) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(*reply)

    assert quillmark.copy_rates_from_pos("EURUSD", 1, 0, 1) is None
    assert quillmark.last_error() == (code, message)


def test_without_link(fake_terminal: Any) -> None:
    quillmark.shutdown()

    assert quillmark.copy_ticks_range("EURUSD", 0, 1, 0) is None
    assert quillmark.last_error() == (-10004, "No IPC connection")


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/statm")
@pytest.mark.skipif(os.environ.get("QUILLMARK_SANITIZED") == "1",
                    reason="the sanitizer's quarantine holds freed memory on purpose")
def test_arrays_release_their_records(fake_terminal: Any) -> None:
    # 2000 bars are 120 KB: an array that did not free its storage, or a call
    # refused after the records arrived that kept them, would grow the process
    # by that much each time.
    peer = fake_terminal
    peer.connect()
    block = u32(2000) + RATES[2] * 2000

    def run(times: int) -> None:
        for _ in range(times):
            peer.reply(RATES_FROM_POS, 1, block)
            peer.reply(RATES_FROM_POS, -3, block)
        for _ in range(times):
            array = quillmark.copy_rates_from_pos("EURUSD", 1, 0, 2000)
            assert array["close"][1999] == 1.15
            assert quillmark.copy_rates_from_pos("EURUSD", 1, 0, 2000) is None

    run(20)
    blocks = sys.getallocatedblocks()
    resident = resident_bytes()
    run(150)
    assert sys.getallocatedblocks() - blocks < 100
    assert resident_bytes() - resident < 4 * 1024 * 1024
