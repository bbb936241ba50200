"""A peer that announces huge lengths or counts: every call must fail with
-10002 without first taking the memory the peer asked for. Storage is only
allocated for records that the announced reply length can hold, and an
allocation that cannot be had fails the call like a short reply."""

from __future__ import annotations

import os
import sys
import tracemalloc
from typing import Any, Callable, Tuple

import pytest

import quillmark
import wire
from conftest import SANITIZED
from fake_peer import FakePeer
from process_memory import resident_bytes

RECV_FAILED = -10002
NO_LINK = -10004

# (call, command, size of one record after the count, bytes before the count)
ARRAY_CALLS = [
    pytest.param(lambda: quillmark.version(), 1, 2, wire.u32(5) + wire.u32(4000), id="version"),
    pytest.param(lambda: quillmark.symbols_get(), 174, 2993, b"", id="symbols"),
    pytest.param(lambda: quillmark.symbols_get(group="*"), 175, 2993, b"", id="symbols-group"),
    pytest.param(lambda: quillmark.market_book_get("EURUSD"), 193, 28, b"", id="book"),
    pytest.param(lambda: quillmark.copy_rates_from_pos("EURUSD", 1, 0, 10), 108, 60, b"",
                 id="bars"),
    pytest.param(lambda: quillmark.copy_ticks_from("EURUSD", 0, 10, -1), 104, 60, b"",
                 id="ticks"),
    pytest.param(lambda: quillmark.positions_get(), 121, 320, b"", id="positions"),
    pytest.param(lambda: quillmark.orders_get(symbol="EURUSD"), 132, 340, b"", id="orders"),
    pytest.param(lambda: quillmark.history_orders_get(0, 10), 141, 340, b"",
                 id="history-orders"),
    pytest.param(lambda: quillmark.history_deals_get(position=3), 152, 300, b"",
                 id="history-deals"),
]


def raw_reply(command: int, length: int, payload: bytes) -> bytes:
    return wire.u32(length) + wire.u32(command) + wire.i32(0) + payload


def call_measured(call: Callable[[], Any]) -> Tuple[Any, int, int]:
    """The call's result, its status and the peak of memory traced meanwhile
    (NumPy reports the storage of its arrays to tracemalloc)."""
    tracemalloc.start()
    try:
        result = call()
        code = quillmark.last_error()[0]
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    return result, code, peak


@pytest.mark.parametrize("call, command, size, head", ARRAY_CALLS)
def test_count_beyond_the_reply_is_refused_before_allocating(
    fake_terminal: FakePeer, call: Callable[[], Any], command: int, size: int, head: bytes
) -> None:
    fake_terminal.connect()
    # Counts whose storage no machine has, one that it has, and one just
    # past the records sent.
    for count in (0xFFFFFFFF, 0x80000000, (1 << 30) // size, 3):
        # A reply that holds the count and two records at most.
        payload = head + wire.u32(count) + b"\x00" * (2 * size)
        fake_terminal.reply_raw(raw_reply(command, 8 + len(payload), payload))
        before = resident_bytes()
        result, code, peak = call_measured(call)
        assert code == RECV_FAILED
        assert result in (None, (0, 0, ""))
        assert peak < 1 << 20
        assert resident_bytes() - before < 16 << 20
        # The reply was consumed whole: the link is open and in step.
        fake_terminal.reply(120, 0, wire.u32(7))
        assert quillmark.positions_total() == 7


@pytest.mark.parametrize("call, command, size, head", ARRAY_CALLS)
def test_huge_announced_length_then_silence_fails_cleanly(
    fake_terminal: FakePeer, call: Callable[[], Any], command: int, size: int, head: bytes
) -> None:
    fake_terminal.connect()
    # The largest length a reply can announce, a count it could hold, then
    # the peer hangs up after a few records.
    count = (0xFFFFFFFF - 12 - len(head)) // size
    fake_terminal.reply_then_close(
        raw_reply(command, 0xFFFFFFFF, head + wire.u32(count) + b"\x01" * (3 * size))
    )
    before = resident_bytes()
    result = call()
    assert quillmark.last_error()[0] == RECV_FAILED
    assert result in (None, (0, 0, ""))
    # Storage may have been reserved for what was announced, but it was
    # never filled and is released again.
    assert resident_bytes() - before < 64 << 20
    assert quillmark.positions_total() is None
    assert quillmark.last_error()[0] == NO_LINK


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's shadow memory does not fit an address limit")
@pytest.mark.skipif(sys.platform == "win32", reason="limits the address space with fork and rlimit")
@pytest.mark.parametrize("call, command, size, head", ARRAY_CALLS[4:])
def test_allocation_that_cannot_be_had_fails_the_call(
    fake_terminal: FakePeer, call: Callable[[], Any], command: int, size: int, head: bytes
) -> None:
    fake_terminal.connect()
    count = (0xFFFFFFFF - 12 - len(head)) // size
    fake_terminal.reply_then_close(
        raw_reply(command, 0xFFFFFFFF, head + wire.u32(count) + b"\x01" * size)
    )
    import resource

    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        # Room for a few hundred megabytes more, far from the 4 GB announced.
        try:
            with open("/proc/self/statm") as statm:
                mapped = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
            limit = mapped + (512 << 20)
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
            result = call()
            answer = f"{quillmark.last_error()[0]} {result is None}"
        except BaseException as error:  # reported to the parent, never raised here
            answer = repr(error)
        finally:
            os.write(write_end, answer.encode())
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        answer = pipe.read()
    os.waitpid(child, 0)
    assert answer == f"{RECV_FAILED} True"
