"""positions_total, positions_get, orders_total and orders_get against a
scripted terminal."""

from __future__ import annotations

import gc
import os
import sys
from typing import Any, Callable

import pytest

import quillmark
from process_memory import resident_bytes
from trade_records import (I64_MIN, U32_MAX, U64_MAX, counted, order_record,
                           position_record)
from wire import request, text, u32, u64

POSITIONS_TOTAL, POSITIONS_GET, POSITIONS_BY_SYMBOL, POSITION_BY_TICKET = 120, 121, 122, 123
ORDERS_TOTAL, ORDERS_GET, ORDERS_BY_SYMBOL, ORDER_BY_TICKET = 130, 131, 132, 133

# (function, command for all, by symbol, by ticket, record maker)
GETTERS = [
    pytest.param(quillmark.positions_get, POSITIONS_GET, POSITIONS_BY_SYMBOL,
                 POSITION_BY_TICKET, position_record, id="positions"),
    pytest.param(quillmark.orders_get, ORDERS_GET, ORDERS_BY_SYMBOL, ORDER_BY_TICKET,
                 order_record, id="orders"),
]


@pytest.mark.parametrize(("function", "command"), [
    (quillmark.positions_total, POSITIONS_TOTAL),
    (quillmark.orders_total, ORDERS_TOTAL),
])
def test_totals(fake_terminal: Any, function: Callable[[], Any], command: int) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(command, 0, u32(U32_MAX))
    peer.reply(command, 1, u32(0))
    peer.reply(command, -7)

    assert function() == U32_MAX
    assert function() == 0
    assert quillmark.last_error() == (1, "Success")
    assert function() is None
    assert quillmark.last_error() == (-7, "Terminal: Unsupported function")
    assert peer.requests() == [request(command)] * 3


@pytest.mark.parametrize(("function", "all_cmd", "symbol_cmd", "ticket_cmd", "make"), GETTERS)
def test_request_of_each_form(fake_terminal: Any, function: Callable[..., Any], all_cmd: int,
                              symbol_cmd: int, ticket_cmd: int,
                              make: Callable[..., bytes]) -> None:
    peer = fake_terminal
    peer.connect()
    two = counted([make(ticket=1), make(ticket=2, symbol="GBPUSD")])
    for command in (all_cmd, all_cmd, symbol_cmd, symbol_cmd, symbol_cmd, all_cmd):
        peer.reply(command, 1, two)
    for ticket in (U64_MAX, 1, 5, 1):
        peer.reply(ticket_cmd, 1, make(ticket=ticket))

    assert [r.ticket for r in function()] == [1, 2]
    assert [r.ticket for r in function(unknown=3)] == [1, 2]
    assert len(function(symbol="EURUSD")) == 2
    assert len(function(symbol="")) == 2
    assert len(function(symbol="ABC\0DEF", group=5)) == 2
    assert [r.ticket for r in function(group="GBP*")] == [2]
    assert [r.ticket for r in function(ticket=U64_MAX)] == [U64_MAX]
    assert len(function(ticket=True)) == 1
    assert len(function(ticket=5, symbol=None)) == 1
    assert len(function(ticket=1, group=5)) == 1
    assert quillmark.last_error() == (1, "Success")
    assert peer.requests() == [
        request(all_cmd),
        request(all_cmd),
        request(symbol_cmd, text("EURUSD")),
        request(symbol_cmd, text("")),
        request(symbol_cmd, text("ABC")),
        request(all_cmd),
        request(ticket_cmd, u64(U64_MAX)),
        request(ticket_cmd, u64(1)),
        request(ticket_cmd, u64(5)),
        request(ticket_cmd, u64(1)),
    ]


@pytest.mark.parametrize(("function", "all_cmd", "symbol_cmd", "ticket_cmd", "make"), GETTERS)
@pytest.mark.parametrize(("status", "with_record", "count"), [
    (-4, False, 0),
    (-4, True, 0),
    (0, True, 0),
    (1, True, 1),
    (7, True, 1),
])
def test_ticket_outcomes(fake_terminal: Any, function: Callable[..., Any], all_cmd: int,
                         symbol_cmd: int, ticket_cmd: int, make: Callable[..., bytes],
                         status: int, with_record: bool, count: int) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(ticket_cmd, status, make(ticket=9) if with_record else b"")

    result = function(ticket=9)

    assert isinstance(result, tuple)
    assert [r.ticket for r in result] == [9] * count
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize(("function", "all_cmd", "symbol_cmd", "ticket_cmd", "make"), GETTERS)
@pytest.mark.parametrize(("args", "kwargs", "message"), [
    (("EURUSD",), {}, "Unnamed arguments not allowed"),
    (("EURUSD",), {"symbol": "EURUSD"}, "Unnamed arguments not allowed"),
    ((), {"ticket": -1}, 'Invalid "ticket" argument'),
    ((), {"ticket": 2**64}, 'Invalid "ticket" argument'),
    ((), {"ticket": 1.0}, 'Invalid "ticket" argument'),
    ((), {"ticket": "1", "symbol": "EURUSD"}, 'Invalid "ticket" argument'),
    ((), {"symbol": None}, 'Invalid "symbol" argument'),
    ((), {"symbol": b"EURUSD"}, 'Invalid "symbol" argument'),
    ((), {"symbol": "A" * 30}, 'Invalid "symbol" argument'),
    ((), {"group": None}, 'Invalid "group" argument'),
    ((), {"group": 5}, 'Invalid "group" argument'),
    ((), {"group": "*" * 1998}, 'Invalid "group" argument'),
])
def test_refused_arguments_send_nothing(fake_terminal: Any, function: Callable[..., Any],
                                        all_cmd: int, symbol_cmd: int, ticket_cmd: int,
                                        make: Callable[..., bytes], args: tuple[Any, ...],
                                        kwargs: dict[str, Any], message: str) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(*args, **kwargs) is None
    assert quillmark.last_error() == (-2, message)
    assert peer.requests() == []


@pytest.mark.parametrize(("function", "all_cmd", "symbol_cmd", "ticket_cmd", "make"), GETTERS)
def test_longest_accepted_texts(fake_terminal: Any, function: Callable[..., Any], all_cmd: int,
                                symbol_cmd: int, ticket_cmd: int,
                                make: Callable[..., bytes]) -> None:
    peer = fake_terminal
    peer.connect()
    for command in (symbol_cmd, all_cmd):
        peer.reply(command, 1, counted([make()]))

    assert len(function(symbol="A" * 29)) == 1
    assert len(function(group="EUR*" + " " * 1993)) == 1
    assert peer.requests() == [request(symbol_cmd, text("A" * 29)), request(all_cmd)]


def test_position_fields_follow_their_wire_types(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    record = position_record(
        ticket=U64_MAX, times=(-1, I64_MIN, 2**63 - 1, -1000), type=U32_MAX, magic=U64_MAX,
        identifier=2**63, reason=U32_MAX, prices=(0.01, -1.5, 1e300, float("inf"), -0.0),
        reserved=b"\xff" * 8, swap=-2.25, profit=1e-300, symbol="S" * 32,
        comment="caf\u00e9 \U0001F600", external_id="")
    peer.reply(POSITIONS_GET, 1, counted([record]))

    (position,) = quillmark.positions_get()

    assert type(position) is quillmark.TradePosition
    assert position._asdict() == {
        "ticket": U64_MAX, "time": -1, "time_msc": I64_MIN, "time_update": 2**63 - 1,
        "time_update_msc": -1000, "type": U32_MAX, "magic": U64_MAX, "identifier": 2**63,
        "reason": U32_MAX, "volume": 0.01, "price_open": -1.5, "sl": 1e300,
        "tp": float("inf"), "price_current": -0.0, "swap": -2.25, "profit": 1e-300,
        "symbol": "S" * 32, "comment": "caf\u00e9 \U0001F600", "external_id": "",
    }


def test_order_fields_follow_their_wire_types(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    record = order_record(
        ticket=2**63, times=(-1, -2, I64_MIN, 2**63 - 1, -5),
        kinds=(U32_MAX, 1, 2, 2**31), magic=U64_MAX, position_id=3, position_by_id=U64_MAX,
        reason=7, prices=(1.0, 2.0, 3.0, 4.0, 5.0, 6.0, -7.0), symbol="XAUUSD",
        comment="C" * 32, external_id="E\0F")
    peer.reply(ORDER_BY_TICKET, 1, record)

    (order,) = quillmark.orders_get(ticket=2**63)

    assert type(order) is quillmark.TradeOrder
    assert tuple(order) == (
        2**63, -1, -2, I64_MIN, 2**63 - 1, -5, U32_MAX, 1, 2, 2**31, U64_MAX, 3, U64_MAX, 7,
        1.0, 2.0, 3.0, 4.0, 5.0, 6.0, -7.0, "XAUUSD", "C" * 32, "E")


@pytest.mark.parametrize(("function", "all_cmd", "symbol_cmd", "ticket_cmd", "make"), GETTERS)
def test_empty_results_are_tuples(fake_terminal: Any, function: Callable[..., Any], all_cmd: int,
                                  symbol_cmd: int, ticket_cmd: int,
                                  make: Callable[..., bytes]) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(all_cmd, 1, counted([]))
    peer.reply(all_cmd, 0, counted([]))
    peer.reply(all_cmd, 1, counted([make(), make()]))

    assert function() == ()
    assert function(group="*") == ()
    assert function(group="") == ()
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize(("reply", "code", "message"), [
    # The terminal's own failure, with or without a payload after it.
    ((POSITIONS_GET, -4, b""), -4, "Terminal: Not found"),
    ((POSITIONS_GET, -9, counted([position_record()])), -9, "Terminal: Call failed"),
    # Another command's complete reply, even with a failing status.
    ((POSITIONS_BY_SYMBOL, -4, counted([])), -10000, "IPC call failed"),
    ((POSITIONS_BY_SYMBOL, 1, counted([])), -10000, "IPC call failed"),
    # A count announcing more records than sent, or a stray byte after them.
    ((POSITIONS_GET, 1, u32(2) + position_record()), -10002, "IPC recv failed"),
    ((POSITIONS_GET, 1, counted([position_record()]) + b"\0"), -10002, "IPC recv failed"),
])
def test_reply_faults(fake_terminal: Any, reply: tuple[int, int, bytes], code: int,
                      message: str) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(*reply)

    assert quillmark.positions_get(group="*") is None
    assert quillmark.last_error() == (code, message)


def test_without_link(fake_terminal: Any) -> None:
    quillmark.shutdown()
    for call in (quillmark.positions_total, quillmark.orders_get,
                 lambda: quillmark.positions_get(ticket=1)):
        assert call() is None
        assert quillmark.last_error() == (-10004, "No IPC connection")


def test_broken_link(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.close_on_next()

    assert quillmark.orders_get() is None
    assert quillmark.last_error()[0] in (-10001, -10002)


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/statm")
@pytest.mark.skipif(os.environ.get("QUILLMARK_SANITIZED") == "1",
                    reason="the sanitizer's quarantine holds freed memory on purpose")
def test_repeated_calls_keep_no_memory(fake_terminal: Any) -> None:
    # 200 records of 320 bytes: a lost receive or filter buffer would add
    # 64 KiB per call, a lost record object a few blocks.
    peer = fake_terminal
    peer.connect()
    reply = counted([position_record(ticket=i, symbol="EURUSD" if i % 2 else "USDJPY")
                     for i in range(200)])

    def run(times: int) -> None:
        for _ in range(times):
            peer.reply(POSITIONS_GET, 1, reply)
        for _ in range(times):
            assert len(quillmark.positions_get(group="EUR*")) == 100

    run(20)
    gc.collect()
    blocks = sys.getallocatedblocks()
    resident = resident_bytes()
    run(200)
    gc.collect()
    assert sys.getallocatedblocks() - blocks < 100
    assert resident_bytes() - resident < 4 * 1024 * 1024
