"""The symbol functions against a scripted terminal."""

from __future__ import annotations

import struct
import subprocess
import sys
from typing import Any

import pytest

import quillmark
from wire import request, text, u8, u32, utf16_field

SYMBOL_INFO = 170
SYMBOL_SELECT = 171
SYMBOL_INFO_TICK = 172
SYMBOLS_TOTAL = 173
SYMBOLS_GET = 174
SYMBOLS_GET_GROUP = 175

U32_MAX = 0xFFFFFFFF
U64_MAX = 0xFFFFFFFFFFFFFFFF
INCOMPATIBLE = (
    -5,
    "Terminal: Incompatible versions, please install the latest version of Terminal and "
    "Python module",
)

# Wire layout of a symbol record: (field, struct code or text units), in wire
# order; name is last on the wire.
NUMERIC_LAYOUT = [
    ("custom", "B"), ("chart_mode", "I"), ("select", "B"), ("visible", "B"),
    ("session_deals", "Q"), ("session_buy_orders", "Q"), ("session_sell_orders", "Q"),
    ("volume", "Q"), ("volumehigh", "Q"), ("volumelow", "Q"), ("time", "q"), ("digits", "I"),
    ("spread", "i"), ("spread_float", "B"), ("ticks_bookdepth", "I"), ("trade_calc_mode", "I"),
    ("trade_mode", "I"), ("start_time", "q"), ("expiration_time", "q"),
    ("trade_stops_level", "i"), ("trade_freeze_level", "i"), ("trade_exemode", "I"),
    ("swap_mode", "I"), ("swap_rollover3days", "I"), ("margin_hedged_use_leg", "B"),
    ("expiration_mode", "i"), ("filling_mode", "i"), ("order_mode", "i"),
    ("order_gtc_mode", "I"), ("option_mode", "I"), ("option_right", "I"),
]
TEXT_LAYOUT = [
    ("basis", 32), ("category", 64), ("currency_base", 16), ("currency_profit", 16),
    ("currency_margin", 16), ("bank", 256), ("description", 64), ("exchange", 64),
    ("formula", 256), ("isin", 16), ("page", 256), ("path", 128), ("name", 32),
]
SYMBOL_RECORD_SIZE = 2993
SHORT_SYMBOL_RECORD_SIZE = 2929


def symbol_fields(name: str = "EURUSD") -> dict[str, Any]:
    """A value for every field, with the extremes of each wire type."""
    fields: dict[str, Any] = {}
    for i, (field, code) in enumerate(NUMERIC_LAYOUT):
        fields[field] = {
            "B": 2 if i % 2 else 0,
            "I": U32_MAX - i,
            "Q": U64_MAX - i,
            "q": -(2**63) + i,
            "i": -(2**31) + i,
        }[code]
    for i in range(52):
        fields[f"double{i}"] = -1.5 * (i + 1)
    for field, units in TEXT_LAYOUT:
        fields[field] = field.upper()[:units]
    fields["isin"] = "I" * 16  # a full field: no NUL, must not run into page
    fields["bank"] = "B\U0001F600k"
    fields["name"] = name
    return fields


def symbol_record(fields: dict[str, Any], size: int = SYMBOL_RECORD_SIZE) -> bytes:
    numeric = "<" + "".join(code for _, code in NUMERIC_LAYOUT) + "52d"
    data = struct.pack(
        numeric,
        *(fields[f] for f, _ in NUMERIC_LAYOUT),
        *(fields[f"double{i}"] for i in range(52)),
    )
    data += b"".join(utf16_field(fields[f], units) for f, units in TEXT_LAYOUT)
    assert len(data) == SYMBOL_RECORD_SIZE
    return data[:size]


def expected_symbol(fields: dict[str, Any]) -> tuple[Any, ...]:
    """The SymbolInfo tuple: name sits between isin and page."""
    numbers = [
        bool(fields[f]) if code == "B" else fields[f] for f, code in NUMERIC_LAYOUT
    ]
    doubles = [fields[f"double{i}"] for i in range(52)]
    texts = [fields[f] for f, _ in TEXT_LAYOUT[:10]]
    return (*numbers, *doubles, *texts, fields["name"], fields["page"], fields["path"])


def test_symbol_info_decodes_every_field(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    fields = symbol_fields()
    peer.reply(SYMBOL_INFO, 0, symbol_record(fields))

    info = quillmark.symbol_info("EURUSD")

    assert peer.requests() == [request(SYMBOL_INFO, text("EURUSD"))]
    assert quillmark.last_error() == (1, "Success")
    assert isinstance(info, quillmark.SymbolInfo)
    assert tuple(info) == expected_symbol(fields)
    assert info.name == "EURUSD" and info.isin == "I" * 16 and info.bank == "B\U0001F600k"
    assert info.point == fields["double13"]
    assert list(info._asdict())[93] == "name"


@pytest.mark.parametrize(
    "build, size, expected_code",
    [
        (2363, SHORT_SYMBOL_RECORD_SIZE, 1),
        (2363, SYMBOL_RECORD_SIZE, -10002),
        (2364, SHORT_SYMBOL_RECORD_SIZE, -10002),
        (2364, SYMBOL_RECORD_SIZE, 1),
    ],
)
def test_symbol_info_record_size_follows_build(
    fake_terminal: Any, build: int, size: int, expected_code: int
) -> None:
    peer = fake_terminal
    peer.connect(build=build)
    fields = symbol_fields(name="TERMINAL")
    peer.reply(SYMBOL_INFO, 0, symbol_record(fields, size))

    info = quillmark.symbol_info("GBP\U0001F600")

    assert quillmark.last_error()[0] == expected_code
    if expected_code == 1:
        # An old terminal sends no name: the requested one stands in for it.
        expected_name = "GBP\U0001F600" if size == SHORT_SYMBOL_RECORD_SIZE else "TERMINAL"
        assert info.name == expected_name
        assert info.path == fields["path"]
    else:
        assert info is None


def test_symbol_info_tick_decodes_extremes(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    payload = struct.pack("<q3dQqId", -1, 1.1, -2.2, float("inf"), U64_MAX, -(2**63), U32_MAX,
                          0.5)
    assert len(payload) == 60
    peer.reply(SYMBOL_INFO_TICK, 0, payload)

    tick = quillmark.symbol_info_tick("XAUUSD")

    assert peer.requests() == [request(SYMBOL_INFO_TICK, text("XAUUSD"))]
    assert isinstance(tick, quillmark.Tick)
    assert tuple(tick) == (-1, 1.1, -2.2, float("inf"), U64_MAX, -(2**63), U32_MAX, 0.5)


class StrSubclass(str):
    pass


@pytest.mark.parametrize(
    "argument, sent",
    [
        ("", ""),
        ("A" * 29, "A" * 29),
        ("\U0001F600" * 14 + "A", "\U0001F600" * 14 + "A"),  # 29 units
        ("ABC\0DEF", "ABC"),
        (StrSubclass("EURUSD"), "EURUSD"),
    ],
)
def test_symbol_name_is_sent_as_counted_text(fake_terminal: Any, argument: str, sent: str) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(SYMBOL_INFO_TICK, 0, bytes(60))

    assert quillmark.symbol_info_tick(argument) is not None
    assert peer.requests() == [request(SYMBOL_INFO_TICK, text(sent))]


@pytest.mark.parametrize("function", [quillmark.symbol_info, quillmark.symbol_info_tick])
@pytest.mark.parametrize(
    "args",
    [(), ("EURUSD", "GBPUSD"), (1,), (None,), (b"EURUSD",), ("A" * 30,), ("\U0001F600" * 15,)],
)
def test_symbol_argument_refusals(fake_terminal: Any, function: Any, args: tuple) -> None:
    peer = fake_terminal
    peer.connect()

    assert function(*args) is None
    assert quillmark.last_error() == (-2, "Invalid arguments")
    assert peer.requests() == []


def test_symbols_total(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(SYMBOLS_TOTAL, 0, u32(U32_MAX))

    assert quillmark.symbols_total() == U32_MAX
    assert peer.requests() == [request(SYMBOLS_TOTAL)]


@pytest.mark.parametrize(
    "call",
    [
        lambda: quillmark.symbols_total(),
        lambda: quillmark.symbols_get(),
        lambda: quillmark.symbols_get(group="EUR*"),
    ],
)
def test_symbol_lists_need_build_2364(fake_terminal: Any, call: Any) -> None:
    peer = fake_terminal
    peer.connect(build=2363)

    assert call() is None
    assert quillmark.last_error() == INCOMPATIBLE
    assert peer.requests() == []


def test_symbol_lists_before_first_initialize() -> None:
    # The build gate comes before the link test, and the stored build is 0
    # until a terminal has answered once: only a fresh process shows it.
    script = (
        "import quillmark\n"
        "print(quillmark.symbols_total(), quillmark.last_error()[0])\n"
        "print(quillmark.symbols_get(), quillmark.last_error()[0])\n"
    )
    output = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            check=True).stdout
    assert output.split() == ["None", "-5", "None", "-5"]


@pytest.mark.parametrize(
    "args, kwargs, sent",
    [
        ((), {}, request(SYMBOLS_GET)),
        (("",), {}, request(SYMBOLS_GET)),
        ((), {"group": ""}, request(SYMBOLS_GET)),
        (("EUR*",), {"group": ""}, request(SYMBOLS_GET)),
        ((), {"other": 5}, request(SYMBOLS_GET)),
        (("EUR*",), {}, request(SYMBOLS_GET_GROUP, text("EUR*"))),
        (("EUR*",), {"group": "*,!USD*"}, request(SYMBOLS_GET_GROUP, text("*,!USD*"))),
        ((), {"group": "G" * 1997}, request(SYMBOLS_GET_GROUP, text("G" * 1997))),
    ],
)
def test_symbols_get_request(fake_terminal: Any, args: tuple, kwargs: dict, sent: bytes) -> None:
    peer = fake_terminal
    peer.connect()
    command = struct.unpack_from("<I", sent, 4)[0]
    peer.reply(command, 0, u32(0))

    assert quillmark.symbols_get(*args, **kwargs) == ()
    assert peer.requests() == [sent]
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("EUR*", "USD*"), {}, "Invalid number of arguments"),
        ((1,), {}, "Invalid 1st unnamed argument"),
        (("G" * 1998,), {}, "Invalid 1st unnamed argument"),
        ((1,), {"group": "EUR*"}, "Invalid 1st unnamed argument"),
        ((), {"group": None}, 'Invalid "group" argument'),
        (("EUR*",), {"group": "G" * 1998}, 'Invalid "group" argument'),
    ],
)
def test_symbols_get_refusals(fake_terminal: Any, args: tuple, kwargs: dict, message: str) -> None:
    peer = fake_terminal
    peer.connect()

    assert quillmark.symbols_get(*args, **kwargs) is False
    assert quillmark.last_error() == (-2, message)
    assert peer.requests() == []


def test_symbols_get_decodes_records_in_order(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    first, second = symbol_fields("EURUSD"), symbol_fields("GBPUSD")
    second["double0"] = 1.25
    peer.reply(SYMBOLS_GET, 0, u32(2) + symbol_record(first) + symbol_record(second))

    symbols = quillmark.symbols_get()

    assert type(symbols) is tuple
    assert [tuple(s) for s in symbols] == [expected_symbol(first), expected_symbol(second)]


@pytest.mark.parametrize(
    "payload",
    [u32(2) + symbol_record(symbol_fields()), u32(1) + symbol_record(symbol_fields()) + b"\0"],
    ids=["fewer records than counted", "trailing byte"],
)
def test_symbols_get_inexact_reply(fake_terminal: Any, payload: bytes) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(SYMBOLS_GET, 0, payload)

    assert quillmark.symbols_get() is None
    assert quillmark.last_error() == (-10002, "IPC recv failed")


@pytest.mark.parametrize(
    "args, sent",
    [
        (("EURUSD",), u8(1)),
        (("EURUSD", True), u8(1)),
        (("EURUSD", "any text"), u8(1)),
        (("EURUSD", 0), u8(0)),
        (("EURUSD", []), u8(0)),
    ],
)
def test_symbol_select_enable_byte(fake_terminal: Any, args: tuple, sent: bytes) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(SYMBOL_SELECT, 0)

    assert quillmark.symbol_select(*args) is True
    assert peer.requests() == [request(SYMBOL_SELECT, text("EURUSD") + sent)]


class Untruthful:
    def __bool__(self) -> bool:
        raise RuntimeError("no truth value")


@pytest.mark.parametrize(
    "args", [(), ("EURUSD", 1, 2), (1,), ("A" * 30,), ("EURUSD", Untruthful())]
)
def test_symbol_select_refusals(fake_terminal: Any, args: tuple) -> None:
    peer = fake_terminal
    peer.connect()

    assert quillmark.symbol_select(*args) is False
    assert quillmark.last_error() == (-2, "Invalid arguments")
    assert peer.requests() == []


def test_symbol_select_failures_return_false(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    peer.reply(SYMBOL_SELECT, -4)
    assert quillmark.symbol_select("NOPE") is False
    assert quillmark.last_error() == (-4, "Terminal: Not found")

    quillmark.shutdown()
    assert quillmark.symbol_select("EURUSD") is False
    assert quillmark.last_error() == (-10004, "No IPC connection")


@pytest.mark.parametrize(
    "call, command, payload",
    [
        (lambda: quillmark.symbol_info("X"), SYMBOL_INFO, symbol_record(symbol_fields())),
        (lambda: quillmark.symbol_info_tick("X"), SYMBOL_INFO_TICK, bytes(60)),
        (lambda: quillmark.symbols_total(), SYMBOLS_TOTAL, u32(3)),
    ],
)
@pytest.mark.parametrize(
    "outcome, expected",
    [
        ("status", (-4, "Terminal: Not found")),
        ("short", (-10002, "IPC recv failed")),
        ("long", (-10002, "IPC recv failed")),
        ("echo", (-10000, "IPC call failed")),
    ],
)
def test_reply_failures(
    fake_terminal: Any, call: Any, command: int, payload: bytes, outcome: str,
    expected: tuple[int, str],
) -> None:
    peer = fake_terminal
    peer.connect()
    if outcome == "status":
        peer.reply(command, -4)
    elif outcome == "short":
        peer.reply(command, 0, payload[:-1])
    elif outcome == "long":
        peer.reply(command, 0, payload + b"\0")
    else:
        peer.reply(command + 1, 0, payload)

    assert call() is None
    assert quillmark.last_error() == expected
