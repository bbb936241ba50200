"""Group masks, applied by the module to the positions a terminal sends."""

from __future__ import annotations

from typing import Any

import pytest

import quillmark
from trade_records import counted, order_record, position_record
from wire import request, utf16_field

POSITIONS_GET = 121
ORDERS_GET = 131

MASKS = [
    ("EUR*", "EURUSD", True),
    ("EUR*", "EUR", True),
    ("EUR*", "XEUR", False),
    ("*USD*", "USDJPY", True),
    ("*USD*", "USD", True),
    ("eurusd", "EURUSD", False),
    ("EURUSD", "EURUSDm", False),
    ("EURUSD*", "EURUSDm", True),
    ("EURUSD?", "EURUSDX", False),
    ("EUR*,GBP*", "GBPUSD", True),
    ("EUR*, !EURJPY", "EURUSD", True),
    ("EUR*, !EURJPY", "EURJPY", False),
    ("!EURJPY, EUR*", "EURJPY", False),
    ("*,!*JPY", "USDCHF", True),
    ("*,!*JPY", "USDJPY", False),
    ("*, ! EURUSD", "EURUSD", True),
    (",,EUR*,,", "EURUSD", True),
    ("EURUSD!", "EURUSD!", True),
    ("!EURJPY", "EURUSD", False),
    ("", "EURUSD", False),
    (" , ,", "EURUSD", False),
    ("!", "EURUSD", False),
    ("!!EUR*, *", "EURUSD", False),
    (" EURUSD ", "EURUSD", True),
    ("EUR USD", "EURUSD", False),
    ("EUR**USD", "EURUSD", True),
    ("A*B", "AXBYB", True),
    ("*AB", "AAB", True),
    ("*AAB", "AAAB", False),
    ("*AA", "AAA", False),
    ("*", "", True),
    ("EURUSD", "", False),
    # Units are compared one by one: an astral character is two of them.
    ("*\U0001F600", "X\U0001F600", True),
    ("\U0001F600*", "\U0001F601", False),
    # A pattern keeps at most 255 units: the 256th and later are cut off ...
    ("*" * 249 + "EURUSD", "EURUSD", True),
    ("*" * 250 + "EURUSD", "EURUSD", False),
    ("*" * 250 + "EURUSD", "XEURUS", True),
    # ... and skipped up to the next comma rather than read as a new pattern.
    ("Y" * 300 + "*", "EURUSD", False),
    ("Y" * 300 + "*,EUR*", "EURUSD", True),
    ("EUR*," + "Y" * 255 + "!*", "EURUSD", True),
]


@pytest.mark.parametrize(("mask", "symbol", "passes"), MASKS)
def test_mask_selects_by_symbol(fake_terminal: Any, mask: str, symbol: str, passes: bool) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(POSITIONS_GET, 1, counted([position_record(ticket=7, symbol=symbol)]))

    result = quillmark.positions_get(group=mask)

    assert quillmark.last_error() == (1, "Success")
    assert [p.ticket for p in result] == ([7] if passes else [])
    assert peer.requests() == [request(POSITIONS_GET)]


def test_kept_records_keep_the_terminal_order(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    symbols = ["EURUSD", "USDJPY", "EURJPY", "GBPUSD", "EURCHF", "AUDUSD"]
    records = [order_record(ticket=i + 1, symbol=s) for i, s in enumerate(symbols)]
    peer.reply(ORDERS_GET, 1, counted(records))

    result = quillmark.orders_get(group="*USD, EUR*, !*JPY")

    assert [(o.ticket, o.symbol) for o in result] == [
        (1, "EURUSD"), (4, "GBPUSD"), (5, "EURCHF"), (6, "AUDUSD")]


def test_symbol_is_read_within_its_field(fake_terminal: Any) -> None:
    # A symbol field full to its 32 units, followed by a comment that would
    # extend the symbol if the filter read past the field.
    peer = fake_terminal
    peer.connect()
    full = "A" * 32
    record = position_record(symbol=full, comment="AAAA")
    peer.reply(POSITIONS_GET, 1, counted([record]))
    peer.reply(POSITIONS_GET, 1, counted([record]))

    assert len(quillmark.positions_get(group=full)) == 1
    assert quillmark.positions_get(group=full + "A") == ()


def test_symbol_field_stops_at_first_nul(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    field = utf16_field("EUR", 32)[:8] + "XYZ".encode("utf-16-le") + bytes(50)
    peer.reply(POSITIONS_GET, 1, counted([position_record(symbol=field)]))

    result = quillmark.positions_get(group="EUR")

    assert [p.symbol for p in result] == ["EUR"]
