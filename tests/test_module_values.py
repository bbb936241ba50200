"""Converted values as they reach the terminal and come back from it."""

from __future__ import annotations

import datetime
import struct
from typing import Any

import pytest

pytest.importorskip("fake_peer")

import quillmark  # noqa: E402
from wire import i64, request, text, u32  # noqa: E402

HISTORY_ORDERS_TOTAL = 140
SYMBOL_INFO = 170
ACCOUNT_INFO = 190

MOMENT = datetime.datetime(2024, 3, 1, 12, 30, 15, 900000, tzinfo=datetime.timezone.utc)


@pytest.mark.parametrize(
    ("date_from", "date_to", "sent"),
    [
        (1.9, -1.9, (1, -1)),
        (True, False, (1, 0)),
        (MOMENT, int(MOMENT.timestamp()), (int(MOMENT.timestamp()),) * 2),
        (MOMENT.timestamp(), MOMENT, (int(MOMENT.timestamp()),) * 2),
        (float("nan"), 1e20, (-(2**31), -(2**31))),
        (2**31 - 1, -(2**31), (2**31 - 1, -(2**31))),
    ],
    ids=["truncated", "bool", "datetime", "float-and-datetime", "out-of-range", "limits"],
)
def test_time_on_the_wire(fake_terminal: Any, date_from: Any, date_to: Any, sent: tuple) -> None:
    fake_terminal.connect()
    fake_terminal.reply(HISTORY_ORDERS_TOTAL, 1, u32(5))
    assert quillmark.history_orders_total(date_from, date_to) == 5
    expected = request(HISTORY_ORDERS_TOTAL, i64(sent[0]) + i64(sent[1]))
    assert fake_terminal.requests() == [expected]


@pytest.mark.parametrize(
    ("symbol", "sent"),
    [("ABC\0DEF", "ABC"), ("EU\U0001f600", "EU\U0001f600"), ("S" * 29, "S" * 29)],
    ids=["embedded-nul", "astral", "longest"],
)
def test_symbol_on_the_wire(fake_terminal: Any, symbol: str, sent: str) -> None:
    fake_terminal.connect()
    fake_terminal.reply(SYMBOL_INFO, -4)
    assert quillmark.symbol_info(symbol) is None
    assert quillmark.last_error() == (-4, "Terminal: Not found")
    assert fake_terminal.requests() == [request(SYMBOL_INFO, text(sent))]


def field(units: int, raw: bytes) -> bytes:
    assert len(raw) <= 2 * units
    return raw.ljust(2 * units, b"\0")


def utf16(value: str) -> bytes:
    return value.encode("utf-16-le", "surrogatepass")


def account_record(name: bytes, server: bytes, currency: bytes, company: bytes) -> bytes:
    numbers = struct.pack(
        "<QIIIIBBIIB14d", 2**64 - 1, 2**32 - 1, 500, 0, 1, 2, 0, 0, 2, 1, *([0.5] * 14)
    )
    record = numbers + field(128, name) + field(64, server) + field(32, currency)
    record += field(128, company)
    assert len(record) == 851
    return record


def test_record_values_follow_the_wire_types_and_texts(fake_terminal: Any) -> None:
    record = account_record(
        name=utf16("Zoë \U0001d11e") + b"\0\0" + utf16("hidden"),
        server=utf16("S" * 64),  # no NUL: the text ends with the field
        currency=utf16("\udc00X\ud800"),  # lone surrogates stay as they are
        company=b"",
    )
    fake_terminal.connect()
    fake_terminal.reply(ACCOUNT_INFO, 1, record)
    info = quillmark.account_info()
    assert quillmark.last_error() == (1, "Success")
    assert isinstance(info, quillmark.AccountInfo)
    assert info.login == 2**64 - 1 and info.trade_mode == 2**32 - 1
    assert info.trade_allowed is True and info.trade_expert is False
    assert info.balance == 0.5
    assert info.name == "Zoë \U0001d11e"
    assert info.server == "S" * 64
    assert info.currency == "\udc00X\ud800"
    assert info.company == ""
