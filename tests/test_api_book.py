"""Depth of market against a scripted terminal."""

from __future__ import annotations

import struct
from typing import Any

import pytest

import quillmark
from wire import request, text, u32

BOOK_ADD = 191
BOOK_RELEASE = 192
BOOK_GET = 193

SWITCHES = [(quillmark.market_book_add, BOOK_ADD), (quillmark.market_book_release, BOOK_RELEASE)]
ALL_THREE = [quillmark.market_book_add, quillmark.market_book_release, quillmark.market_book_get]


def book_entry(type_: int, price: float, volume: int, volume_dbl: float) -> bytes:
    data = struct.pack("<IdQd", type_, price, volume, volume_dbl)
    assert len(data) == 28
    return data


@pytest.mark.parametrize("function, command", SWITCHES)
@pytest.mark.parametrize("status, result", [(0, True), (5, True), (-1, False), (-4, False)])
def test_switch_result_follows_status(
    fake_terminal: Any, function: Any, command: int, status: int, result: bool
) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(command, status)

    assert function("EURUSD") is result
    assert peer.requests() == [request(command, text("EURUSD"))]
    # A failed switch is told only by its result.
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize("function, command", SWITCHES)
@pytest.mark.parametrize("outcome", ["echo", "long", "no link"])
def test_switch_transport_failures_are_not_recorded(
    fake_terminal: Any, function: Any, command: int, outcome: str
) -> None:
    peer = fake_terminal
    peer.connect()
    if outcome == "echo":
        peer.reply(BOOK_GET, 0)
    elif outcome == "long":
        peer.reply(command, 0, b"\0")
    else:
        quillmark.shutdown()

    assert function("EURUSD") is False
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize("function", ALL_THREE)
@pytest.mark.parametrize("args", [(), ("EURUSD", "GBPUSD"), (7,), (None,), ("A" * 30,)])
def test_argument_refusals_return_none(fake_terminal: Any, function: Any, args: tuple) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(*args) is None
    assert quillmark.last_error() == (-2, "Invalid arguments")
    assert peer.requests() == []


def test_book_add_accepts_29_units(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(BOOK_ADD, 0)

    assert quillmark.market_book_add("S" * 29) is True
    assert peer.requests() == [request(BOOK_ADD, text("S" * 29))]


def test_book_get_decodes_entries_in_order(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    entries = [
        (0xFFFFFFFF, 1.2345, 0xFFFFFFFFFFFFFFFF, 1e9),
        (2, -0.0, 0, 0.25),
        (1, 1.2344, 7, 7.5),
    ]
    payload = u32(len(entries)) + b"".join(book_entry(*e) for e in entries)
    peer.reply(BOOK_GET, 0, payload)

    book = quillmark.market_book_get("EURUSD")

    assert peer.requests() == [request(BOOK_GET, text("EURUSD"))]
    assert quillmark.last_error() == (1, "Success")
    assert type(book) is tuple
    assert all(isinstance(entry, quillmark.BookInfo) for entry in book)
    assert [tuple(entry) for entry in book] == entries


def test_book_get_empty_book(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(BOOK_GET, 0, u32(0))

    assert quillmark.market_book_get("EURUSD") == ()


@pytest.mark.parametrize(
    "reply, expected",
    [
        ((BOOK_GET, -4, b""), (-4, "Terminal: Not found")),
        ((BOOK_GET, 0, u32(2) + book_entry(1, 1.0, 1, 1.0)), (-10002, "IPC recv failed")),
        ((BOOK_GET, 0, u32(1) + book_entry(1, 1.0, 1, 1.0) + b"\0"), (-10002, "IPC recv failed")),
        ((BOOK_ADD, 0, u32(0)), (-10000, "IPC call failed")),
    ],
)
def test_book_get_failures(fake_terminal: Any, reply: tuple, expected: tuple[int, str]) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(*reply)

    assert quillmark.market_book_get("EURUSD") is None
    assert quillmark.last_error() == expected


def test_book_get_without_link() -> None:
    quillmark.shutdown()
    assert quillmark.market_book_get("EURUSD") is None
    assert quillmark.last_error() == (-10004, "No IPC connection")
