"""history_orders_total, history_orders_get, history_deals_total and
history_deals_get against a scripted terminal."""

from __future__ import annotations

import datetime
from typing import Any, Callable

import pytest

import quillmark
from trade_records import I64_MIN, U32_MAX, U64_MAX, counted, deal_record, order_record
from wire import i64, request, u32, u64

ORDERS_TOTAL, ORDERS_RANGE, ORDERS_BY_POSITION, ORDER_BY_TICKET = 140, 141, 142, 143
DEALS_TOTAL, DEALS_RANGE, DEALS_BY_POSITION, DEAL_BY_TICKET = 150, 151, 152, 153

UTC = datetime.timezone.utc

# (function, range command, position command, ticket command, record maker)
GETTERS = [
    pytest.param(quillmark.history_orders_get, ORDERS_RANGE, ORDERS_BY_POSITION,
                 ORDER_BY_TICKET, order_record, id="orders"),
    pytest.param(quillmark.history_deals_get, DEALS_RANGE, DEALS_BY_POSITION, DEAL_BY_TICKET,
                 deal_record, id="deals"),
]
TOTALS = [
    pytest.param(quillmark.history_orders_total, ORDERS_TOTAL, id="orders"),
    pytest.param(quillmark.history_deals_total, DEALS_TOTAL, id="deals"),
]


def span(start: int, end: int) -> bytes:
    return i64(start) + i64(end)


@pytest.mark.parametrize(("function", "command"), TOTALS)
def test_totals_send_the_range(fake_terminal: Any, function: Callable[..., Any],
                               command: int) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(command, 1, u32(U32_MAX))
    peer.reply(command, 0, u32(3))
    peer.reply(command, 1, u32(0))
    peer.reply(command, -6)

    assert function(-1, 1700000000.9) == U32_MAX
    assert function(datetime.datetime(2020, 9, 13, 12, 26, 40, tzinfo=UTC), True) == 3
    assert function(-1.9, 2**31 - 1) == 0
    assert quillmark.last_error() == (1, "Success")
    assert function(0, 1) is None
    assert quillmark.last_error() == (-6, "Terminal: Authorization failed")
    assert peer.requests() == [
        request(command, span(-1, 1700000000)),
        request(command, span(1600000000, 1)),
        request(command, span(-1, 2**31 - 1)),
        request(command, span(0, 1)),
    ]


@pytest.mark.parametrize(("function", "command"), TOTALS)
@pytest.mark.parametrize("args", [
    (),
    (1,),
    (1, 2, 3),
    (datetime.date(2020, 1, 1), 2),
    (1, "2"),
    (1, None),
])
def test_totals_refuse_bad_ranges(fake_terminal: Any, function: Callable[..., Any], command: int,
                                  args: tuple[Any, ...]) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(*args) is None
    assert quillmark.last_error() == (-2, "Invalid arguments")
    assert peer.requests() == []


@pytest.mark.parametrize(("function", "range_cmd", "position_cmd", "ticket_cmd", "make"), GETTERS)
def test_request_of_each_form(fake_terminal: Any, function: Callable[..., Any], range_cmd: int,
                              position_cmd: int, ticket_cmd: int,
                              make: Callable[..., bytes]) -> None:
    peer = fake_terminal
    peer.connect()
    two = counted([make(ticket=1), make(ticket=2, symbol="GBPUSD")])
    peer.reply(range_cmd, 1, two)
    peer.reply(range_cmd, 1, two)
    peer.reply(range_cmd, 1, two)
    peer.reply(position_cmd, 1, two)
    peer.reply(ticket_cmd, 1, make(ticket=U64_MAX))
    peer.reply(ticket_cmd, 1, make(ticket=8))

    start = datetime.datetime(2020, 9, 13, 12, 26, 40, tzinfo=UTC)
    assert [r.ticket for r in function(start, 1700000000.9)] == [1, 2]
    assert [r.ticket for r in function(0, 10, group="GBP*")] == [2]
    # The range form looks at no other keyword.
    assert len(function(0, 10, ticket="x", position=None)) == 2
    assert len(function(position=U64_MAX)) == 2
    assert [r.ticket for r in function(ticket=U64_MAX)] == [U64_MAX]
    assert len(function(ticket=8, position="ignored")) == 1
    assert quillmark.last_error() == (1, "Success")
    assert peer.requests() == [
        request(range_cmd, span(1600000000, 1700000000)),
        request(range_cmd, span(0, 10)),
        request(range_cmd, span(0, 10)),
        request(position_cmd, u64(U64_MAX)),
        request(ticket_cmd, u64(U64_MAX)),
        request(ticket_cmd, u64(8)),
    ]


@pytest.mark.parametrize(("function", "range_cmd", "position_cmd", "ticket_cmd", "make"), GETTERS)
@pytest.mark.parametrize(("args", "kwargs", "message"), [
    ((), {}, "Invalid arguments"),
    ((1,), {}, "Invalid arguments"),
    ((1, 2, 3), {}, "Invalid arguments"),
    ((), {"date_from": 1, "date_to": 2}, "Invalid arguments"),
    ((), {"group": "*"}, "Invalid arguments"),
    ((1, datetime.date(2020, 1, 1)), {}, "Invalid arguments"),
    ((1, "2"), {"group": 5}, "Invalid arguments"),
    ((1, 2), {"group": 5}, 'Invalid "group" argument'),
    ((1, 2), {"group": None}, 'Invalid "group" argument'),
    ((1, 2), {"group": "*" * 1998}, 'Invalid "group" argument'),
    ((1,), {"position": 5}, "Unnamed arguments not allowed"),
    ((1, 2, 3), {"ticket": 5}, "Unnamed arguments not allowed"),
    ((), {"ticket": -1}, 'Invalid "ticket" argument'),
    ((), {"ticket": 2**64, "position": 1}, 'Invalid "ticket" argument'),
    ((), {"ticket": None}, 'Invalid "ticket" argument'),
    ((), {"position": -1}, 'Invalid "position" argument'),
    ((), {"position": 1.0}, 'Invalid "position" argument'),
])
def test_refused_arguments_send_nothing(fake_terminal: Any, function: Callable[..., Any],
                                        range_cmd: int, position_cmd: int, ticket_cmd: int,
                                        make: Callable[..., bytes], args: tuple[Any, ...],
                                        kwargs: dict[str, Any], message: str) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(*args, **kwargs) is None
    assert quillmark.last_error() == (-2, message)
    assert peer.requests() == []


@pytest.mark.parametrize(("function", "range_cmd", "position_cmd", "ticket_cmd", "make"), GETTERS)
@pytest.mark.parametrize(("status", "with_record", "count"), [
    (-4, False, 0),
    (-4, True, 0),
    (0, True, 0),
    (1, True, 1),
])
def test_ticket_outcomes(fake_terminal: Any, function: Callable[..., Any], range_cmd: int,
                         position_cmd: int, ticket_cmd: int, make: Callable[..., bytes],
                         status: int, with_record: bool, count: int) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(ticket_cmd, status, make(ticket=4) if with_record else b"")

    assert [r.ticket for r in function(ticket=4)] == [4] * count
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize(("function", "range_cmd", "position_cmd", "ticket_cmd", "make"), GETTERS)
def test_failures_of_each_form(fake_terminal: Any, function: Callable[..., Any], range_cmd: int,
                               position_cmd: int, ticket_cmd: int,
                               make: Callable[..., bytes]) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(ticket_cmd, -5)
    peer.reply(position_cmd, -4)
    peer.reply(range_cmd, 1, counted([make()]) + b"\0")
    peer.reply(position_cmd, 1, counted([make()]))

    assert function(ticket=1) is None
    assert quillmark.last_error()[0] == -5
    assert function(position=1) is None
    assert quillmark.last_error() == (-4, "Terminal: Not found")
    assert function(0, 1, group="*") is None
    assert quillmark.last_error() == (-10002, "IPC recv failed")
    assert function(0, 1) is None
    assert quillmark.last_error() == (-10000, "IPC call failed")


@pytest.mark.parametrize(("function", "range_cmd", "position_cmd", "ticket_cmd", "make"), GETTERS)
def test_group_that_keeps_nothing(fake_terminal: Any, function: Callable[..., Any],
                                  range_cmd: int, position_cmd: int, ticket_cmd: int,
                                  make: Callable[..., bytes]) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(range_cmd, 1, counted([make(), make()]))

    start = datetime.datetime(2024, 1, 1, tzinfo=UTC)
    assert function(start, start, group="!*, *") == ()
    assert quillmark.last_error() == (1, "Success")


def test_deal_fields_follow_their_wire_types(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    record = deal_record(
        ticket=U64_MAX, order=2**63, times=(I64_MIN, -1), type=U32_MAX, entry=3,
        magic=U64_MAX, position_id=1, reason=2**31, amounts=(0.1, -0.2, 3e-308, -4.0, 5e300, 0.0),
        symbol="D" * 32, comment="", external_id="\U0001F600")
    peer.reply(DEAL_BY_TICKET, 1, record)

    (deal,) = quillmark.history_deals_get(ticket=U64_MAX)

    assert type(deal) is quillmark.TradeDeal
    assert deal._asdict() == {
        "ticket": U64_MAX, "order": 2**63, "time": I64_MIN, "time_msc": -1, "type": U32_MAX,
        "entry": 3, "magic": U64_MAX, "position_id": 1, "reason": 2**31, "volume": 0.1,
        "price": -0.2, "commission": 3e-308, "swap": -4.0, "profit": 5e300, "fee": 0.0,
        "symbol": "D" * 32, "comment": "", "external_id": "\U0001F600",
    }


def test_history_orders_are_trade_orders(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(ORDERS_BY_POSITION, 1, counted([order_record(ticket=3, magic=U64_MAX)]))

    (order,) = quillmark.history_orders_get(position=3)

    assert type(order) is quillmark.TradeOrder
    assert (order.ticket, order.magic, order.symbol) == (3, U64_MAX, "EURUSD")
