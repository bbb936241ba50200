"""Trade requests, order_check, order_send and the margin and profit calculations."""

from __future__ import annotations

import math
import struct
from typing import Any

import pytest

import quillmark
from wire import f64, request, text, u32, utf16_field

ORDER_CHECK = 160
ORDER_SEND = 161
CALC_MARGIN = 162
CALC_PROFIT = 163

U32_MAX = 0xFFFFFFFF
U64_MAX = 0xFFFFFFFFFFFFFFFF

REQUEST_FIELDS = (
    "action", "magic", "order", "symbol", "volume", "price", "stoplimit", "sl", "tp",
    "deviation", "type", "type_filling", "type_time", "expiration", "comment", "position",
    "position_by",
)
ZERO_REQUEST: dict[str, Any] = {
    name: "" if name in ("symbol", "comment") else 0.0 if name in
    ("volume", "price", "stoplimit", "sl", "tp") else 0
    for name in REQUEST_FIELDS
}


def request_record(**given: Any) -> bytes:
    f = {**ZERO_REQUEST, **{k: int(v) if type(v) is bool else v for k, v in given.items()}}
    data = (
        struct.pack("<IQQ", f["action"], f["magic"], f["order"])
        + utf16_field(f["symbol"], 32)
        + struct.pack("<5dQIIIq", f["volume"], f["price"], f["stoplimit"], f["sl"], f["tp"],
                      f["deviation"], f["type"], f["type_filling"], f["type_time"],
                      f["expiration"])
        + utf16_field(f["comment"], 32)
        + struct.pack("<QQ", f["position"], f["position_by"])
    )
    assert len(data) == 232
    return data


def check_record(retcode: int = 0, comment: str = "Done") -> bytes:
    data = struct.pack("<I6d", retcode, 1.0, 2.0, -3.0, 4.0, 5.0, 6.0) + utf16_field(comment, 100)
    assert len(data) == 252
    return data


def send_record(
    retcode: int = 10009, comment: str = "Request executed", request_id: int = 1,
    retcode_external: int = 0,
) -> bytes:
    data = (
        struct.pack("<IQQ4d", retcode, U64_MAX, 77, 0.1, 1.5, 1.49, 1.51)
        + utf16_field(comment, 100)
        + struct.pack("<Ii", request_id, retcode_external)
    )
    assert len(data) == 260
    return data


FULL_REQUEST: dict[str, Any] = {
    "action": U32_MAX, "magic": U64_MAX, "order": 12345, "symbol": "S" * 29, "volume": 0.01,
    "price": 1.2345, "stoplimit": -1.5, "sl": 1.2, "tp": float("inf"), "deviation": U64_MAX,
    "type": 1, "type_filling": 2, "type_time": U32_MAX, "expiration": -(2**63),
    "comment": "\U0001F600" * 14 + "c", "position": 1, "position_by": U64_MAX,
}


class DictSubclass(dict):
    pass


@pytest.mark.parametrize(
    "given",
    [
        {},
        FULL_REQUEST,
        {"action": True, "type": False, "expiration": -1, "volume": 1.0, "unknown": object()},
        DictSubclass(symbol="EURUSD", comment="ABC\0DEF"),
    ],
    ids=["empty", "extremes", "bools and unknown key", "dict subclass"],
)
def test_request_record_and_echo(fake_terminal: Any, given: dict) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(ORDER_CHECK, 0, check_record())

    result = quillmark.order_check(given)

    known = {k: v for k, v in given.items() if k in REQUEST_FIELDS}
    if "comment" in known:
        known["comment"] = known["comment"].split("\0")[0]
    assert peer.requests() == [request(ORDER_CHECK, request_record(**known))]
    echo = result.request
    assert isinstance(echo, quillmark.TradeRequest)
    assert echo._asdict() == {**ZERO_REQUEST, **known}
    assert type(echo.action) is int and type(echo.price) is float


@pytest.mark.parametrize(
    "given, message",
    [
        ([("action", 1)], "Invalid arguments"),
        (None, "Invalid arguments"),
        (("action",), "Invalid arguments"),
        ({"action": -1}, 'Invalid "action" argument'),
        ({"action": 2**32}, 'Invalid "action" argument'),
        ({"action": 1.0}, 'Invalid "action" argument'),
        ({"magic": -1}, 'Invalid "magic" argument'),
        ({"order": 2**64}, 'Invalid "order" argument'),
        ({"symbol": "S" * 30}, 'Invalid "symbol" argument'),
        ({"symbol": b"EURUSD"}, 'Invalid "symbol" argument'),
        ({"volume": 1}, 'Invalid "volume" argument'),
        ({"price": "1.0"}, 'Invalid "price" argument'),
        ({"stoplimit": True}, 'Invalid "stoplimit" argument'),
        ({"sl": None}, 'Invalid "sl" argument'),
        ({"tp": 0}, 'Invalid "tp" argument'),
        ({"deviation": -5}, 'Invalid "deviation" argument'),
        ({"type": 2**32}, 'Invalid "type" argument'),
        ({"type_filling": "0"}, 'Invalid "type_filling" argument'),
        ({"type_time": -1}, 'Invalid "type_time" argument'),
        ({"expiration": 2**63}, 'Invalid "expiration" argument'),
        ({"comment": "\U0001F600" * 15}, 'Invalid "comment" argument'),
        ({"position": -1}, 'Invalid "position" argument'),
        ({"position_by": 0.0}, 'Invalid "position_by" argument'),
        ({"comment": 1, "symbol": 2, "action": -1}, 'Invalid "action" argument'),
        ({"position_by": -1, "volume": 1}, 'Invalid "volume" argument'),
    ],
)
@pytest.mark.parametrize("function", [quillmark.order_check, quillmark.order_send])
def test_request_refusals(fake_terminal: Any, function: Any, given: Any, message: str) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(given) is None
    assert quillmark.last_error() == (-2, message)
    assert peer.requests() == []


@pytest.mark.parametrize("function", [quillmark.order_check, quillmark.order_send])
def test_request_is_parsed_before_the_link_is_tested(function: Any) -> None:
    quillmark.shutdown()
    assert function({"volume": 1}) is None
    assert quillmark.last_error() == (-2, 'Invalid "volume" argument')
    assert function({"volume": 1.0}) is None
    assert quillmark.last_error() == (-10004, "No IPC connection")


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "Invalid number of arguments"),
        (({}, {}), {}, "Invalid number of arguments"),
        (({},), {"action": 1}, "Unnamed arguments not allowed"),
        (({"action": 1},), {"symbol": "EURUSD"}, "Unnamed arguments not allowed"),
    ],
)
@pytest.mark.parametrize("function", [quillmark.order_check, quillmark.order_send])
def test_argument_forms_refused(function: Any, args: tuple, kwargs: dict, message: str) -> None:
    assert function(*args, **kwargs) is None
    assert quillmark.last_error() == (-2, message)


def test_keywords_form_the_request(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(ORDER_SEND, 0, send_record())
    peer.reply(ORDER_SEND, 0, send_record())

    by_keywords = quillmark.order_send(action=1, symbol="EURUSD", volume=0.1, other="ignored")
    by_dict = quillmark.order_send({"action": 1, "symbol": "EURUSD", "volume": 0.1})

    sent = request(ORDER_SEND, request_record(action=1, symbol="EURUSD", volume=0.1))
    assert peer.requests() == [sent, sent]
    assert by_keywords == by_dict


def test_order_check_result(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(ORDER_CHECK, 0, check_record(retcode=U32_MAX, comment="C" * 100))

    result = quillmark.order_check({"symbol": "EURUSD"})

    assert isinstance(result, quillmark.OrderCheckResult)
    assert tuple(result)[:8] == (U32_MAX, 1.0, 2.0, -3.0, 4.0, 5.0, 6.0, "C" * 100)
    assert result.request.symbol == "EURUSD" and result.request.comment == ""
    assert quillmark.last_error() == (1, "Success")


def test_order_send_result(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    # A rejected trade is still a successful call.
    peer.reply(ORDER_SEND, 0, send_record(retcode=10006, comment="Rejected", request_id=U32_MAX,
                                          retcode_external=-1))

    result = quillmark.order_send({"action": 1})

    assert isinstance(result, quillmark.OrderSendResult)
    assert tuple(result)[:10] == (10006, U64_MAX, 77, 0.1, 1.5, 1.49, 1.51, "Rejected", U32_MAX,
                                  -1)
    assert result._asdict()["request"] == result.request
    assert result.request.action == 1
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize(
    "function, command, expected",
    [
        (quillmark.order_send, ORDER_SEND,
         (-8, "Auto-Trading using Python API disabled in Terminal")),
        (quillmark.order_check, ORDER_CHECK, (-8, "Terminal: Call failed")),
        (quillmark.order_send, ORDER_SEND, (-4, "Terminal: Not found")),
    ],
)
def test_negative_status(fake_terminal: Any, function: Any, command: int, expected: tuple) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(command, expected[0])

    assert function({}) is None
    assert quillmark.last_error() == expected


@pytest.mark.parametrize(
    "function, reply, expected",
    [
        (quillmark.order_check, (ORDER_CHECK, 0, check_record()[:-1]), -10002),
        (quillmark.order_check, (ORDER_CHECK, 0, check_record() + b"\0"), -10002),
        (quillmark.order_send, (ORDER_SEND, 0, send_record()[:-1]), -10002),
        (quillmark.order_send, (ORDER_CHECK, 0, send_record()), -10000),
        (quillmark.order_send, (ORDER_CHECK, -8, send_record()), -10000),
    ],
)
def test_reply_failures(fake_terminal: Any, function: Any, reply: tuple, expected: int) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(*reply)

    assert function({}) is None
    assert quillmark.last_error()[0] == expected


@pytest.mark.parametrize(
    "args, sent_action, sent_numbers",
    [
        ((0, "EURUSD", 0.1, 1.1), 0, (0.1, 1.1)),
        ((-1, "EURUSD", 1, 2), U32_MAX, (1.0, 2.0)),
        ((2**32 + 5, "EURUSD", 0.5, -0.0), 5, (0.5, -0.0)),
        ((True, "", 0.5, 1.0), 1, (0.5, 1.0)),
    ],
)
def test_order_calc_margin_request(
    fake_terminal: Any, args: tuple, sent_action: int, sent_numbers: tuple
) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(CALC_MARGIN, 0, f64(12.5))

    assert quillmark.order_calc_margin(*args) == 12.5
    payload = u32(sent_action) + text(args[1]) + b"".join(f64(x) for x in sent_numbers)
    assert peer.requests() == [request(CALC_MARGIN, payload)]


def test_order_calc_profit_request(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(CALC_PROFIT, 0, f64(-3.25))

    assert quillmark.order_calc_profit(1, "S" * 29, 2, 1.5, 1.25) == -3.25
    payload = u32(1) + text("S" * 29) + f64(2.0) + f64(1.5) + f64(1.25)
    assert peer.requests() == [request(CALC_PROFIT, payload)]


@pytest.mark.parametrize("value", [-0.0, float("nan"), float("-inf")])
def test_calc_result_passes_through(fake_terminal: Any, value: float) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(CALC_PROFIT, 0, f64(value))

    result = quillmark.order_calc_profit(0, "EURUSD", 1.0, 1.0, 1.0)

    assert struct.pack("<d", result) == struct.pack("<d", value) or (
        math.isnan(result) and math.isnan(value)
    )


@pytest.mark.parametrize(
    "function, args",
    [
        (quillmark.order_calc_margin, (0, "EURUSD", 1.0)),
        (quillmark.order_calc_margin, (0, "EURUSD", 1.0, 1.0, 1.0)),
        (quillmark.order_calc_margin, (0.0, "EURUSD", 1.0, 1.0)),
        (quillmark.order_calc_margin, (0, b"EURUSD", 1.0, 1.0)),
        (quillmark.order_calc_margin, (0, None, 1.0, 1.0)),
        (quillmark.order_calc_margin, (0, "S" * 30, 1.0, 1.0)),
        (quillmark.order_calc_margin, (0, "EURUSD", "1.0", 1.0)),
        (quillmark.order_calc_profit, (0, "EURUSD", 1.0, 1.0)),
        (quillmark.order_calc_profit, (0, "EURUSD", 1.0, 1.0, None)),
    ],
)
def test_calc_refusals(fake_terminal: Any, function: Any, args: tuple) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(*args) is None
    assert quillmark.last_error() == (-2, "Invalid arguments")
    assert peer.requests() == []


@pytest.mark.parametrize(
    "reply, expected",
    [
        ((CALC_MARGIN, -2, b""), (-2, "Terminal: Invalid params")),
        ((CALC_MARGIN, 0, b"\0" * 7), (-10002, "IPC recv failed")),
        ((CALC_PROFIT, 0, f64(1.0)), (-10000, "IPC call failed")),
    ],
)
def test_calc_failures(fake_terminal: Any, reply: tuple, expected: tuple) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(*reply)

    assert quillmark.order_calc_margin(0, "EURUSD", 1.0, 1.0) is None
    assert quillmark.last_error() == expected
