"""Each family of module functions called a hundred thousand times against a
peer that answers with good records, terminal errors and malformed replies in
turn: the process's memory, its count of allocated Python blocks, and the
reference counts of the objects the module hands out or shares must not grow.
Then the bundled terminal under a long session of mixed requests, with its
own memory read from /proc."""

from __future__ import annotations

import gc
import os
import struct
import sys
from pathlib import Path
from typing import Any, Callable, Dict, Iterator, List, Tuple

import pytest

import quillmark
import wire
from canned_peer import CannedPeer
from conftest import SANITIZED
from process_memory import process_memory_bytes, resident_bytes as rss_bytes
from terminal_tools import RawClient, TerminalHome
from trade_records import DEAL_SIZE, ORDER_SIZE, POSITION_SIZE
from wire import text

CALLS = int(os.environ.get("QUILLMARK_LEAK_CALLS", "20000" if SANITIZED else "100000"))
WARM_UP = 3000

Call = Callable[[], Any]


def filled(size: int, seed: int) -> bytes:
    """A record whose every text field is full (no NUL) and whose numbers
    are varied: the most work for the converters."""
    unit = bytes([0x41 + seed % 26, 0x00])
    data = bytearray(unit * (size // 2) + unit[: size % 2])
    struct.pack_into("<Q", data, 0, 0xFFFFFFFFFFFFFFFF - seed)
    return bytes(data)


def answers(command: int, *payloads: bytes) -> List[bytes]:
    """The good replies, then a terminal error, then one byte too many."""
    good = [wire.reply(command, 0, payload) for payload in payloads]
    return good + [wire.reply(command, -4), wire.reply(command, 0, payloads[0] + b"\x00")]


def counted(size: int, count: int) -> bytes:
    return wire.u32(count) + b"".join(filled(size, i) for i in range(count))


# Where the peer of the running test listens.
PEER: Dict[str, str] = {}

REQUEST = {"action": 1, "symbol": "EURUSD", "volume": 0.1, "type": 0, "price": 1.1,
           "comment": "leak loop", "magic": 3}

FAMILIES: Dict[str, Tuple[List[Call], Dict[int, List[bytes]]]] = {
    "connection": (
        [
            lambda: quillmark.initialize(path=PEER["path"]),
            lambda: quillmark.version(),
            lambda: quillmark.login(1234, "secret", "Demo", timeout=100),
            lambda: quillmark.version(),
            lambda: quillmark.shutdown(),
        ],
        {
            1: answers(1, wire.u32(5) + wire.u32(4000) + wire.text("1 Dec 2026")),
            5: answers(5, b""),
        },
    ),
    "terminal-account": (
        [lambda: quillmark.terminal_info(), lambda: quillmark.account_info()],
        {180: answers(180, filled(3162, 1)), 190: answers(190, filled(851, 2))},
    ),
    "symbols": (
        [
            lambda: quillmark.symbols_total(),
            lambda: quillmark.symbols_get(),
            lambda: quillmark.symbols_get(group="A*,!B*"),
            lambda: quillmark.symbol_info("EURUSD"),
            lambda: quillmark.symbol_info_tick("EURUSD"),
            lambda: quillmark.symbol_select("EURUSD", True),
        ],
        {
            173: answers(173, wire.u32(3)),
            174: answers(174, counted(2993, 3), counted(2993, 0)),
            175: answers(175, counted(2993, 2)),
            170: answers(170, filled(2993, 4)),
            172: answers(172, filled(60, 5)),
            171: answers(171, b""),
        },
    ),
    "market-book": (
        [
            lambda: quillmark.market_book_add("EURUSD"),
            lambda: quillmark.market_book_get("EURUSD"),
            lambda: quillmark.market_book_release("EURUSD"),
        ],
        {191: answers(191, b""), 193: answers(193, counted(28, 10)), 192: answers(192, b"")},
    ),
    "trading": (
        [
            lambda: quillmark.order_check(REQUEST),
            lambda: quillmark.order_send(REQUEST),
            lambda: quillmark.order_calc_margin(0, "EURUSD", 1.0, 1.1),
            lambda: quillmark.order_calc_profit(0, "EURUSD", 1.0, 1.1, 1.2),
        ],
        {
            160: answers(160, filled(252, 6)),
            161: answers(161, filled(260, 7)),
            162: answers(162, wire.f64(12.5)),
            163: answers(163, wire.f64(-3.25)),
        },
    ),
    "positions-orders": (
        [
            lambda: quillmark.positions_total(),
            lambda: quillmark.positions_get(),
            lambda: quillmark.positions_get(group="A*"),
            lambda: quillmark.positions_get(symbol="EURUSD"),
            lambda: quillmark.positions_get(ticket=5),
            lambda: quillmark.orders_total(),
            lambda: quillmark.orders_get(),
            lambda: quillmark.orders_get(symbol="EURUSD"),
            lambda: quillmark.orders_get(ticket=5),
        ],
        {
            120: answers(120, wire.u32(2)),
            121: answers(121, counted(POSITION_SIZE, 4)),
            122: answers(122, counted(POSITION_SIZE, 2)),
            123: answers(123, filled(POSITION_SIZE, 8)),
            130: answers(130, wire.u32(1)),
            131: answers(131, counted(ORDER_SIZE, 3)),
            132: answers(132, counted(ORDER_SIZE, 1)),
            133: answers(133, filled(ORDER_SIZE, 9)),
        },
    ),
    "history": (
        [
            lambda: quillmark.history_orders_total(0, 2000000000),
            lambda: quillmark.history_orders_get(0, 2000000000, group="*"),
            lambda: quillmark.history_orders_get(position=3),
            lambda: quillmark.history_orders_get(ticket=3),
            lambda: quillmark.history_deals_total(0, 2000000000),
            lambda: quillmark.history_deals_get(0, 2000000000),
            lambda: quillmark.history_deals_get(position=3),
            lambda: quillmark.history_deals_get(ticket=3),
        ],
        {
            140: answers(140, wire.u32(4)),
            141: answers(141, counted(ORDER_SIZE, 3)),
            142: answers(142, counted(ORDER_SIZE, 2)),
            143: answers(143, filled(ORDER_SIZE, 10)),
            150: answers(150, wire.u32(4)),
            151: answers(151, counted(DEAL_SIZE, 3)),
            152: answers(152, counted(DEAL_SIZE, 2)),
            153: answers(153, filled(DEAL_SIZE, 11)),
        },
    ),
    "bars-ticks": (
        [
            lambda: quillmark.copy_rates_from("EURUSD", 1, 1700000000, 50),
            lambda: quillmark.copy_rates_from_pos("EURUSD", 1, 0, 50),
            lambda: quillmark.copy_rates_range("EURUSD", 1, 1700000000, 1700003000),
            lambda: quillmark.copy_ticks_from("EURUSD", 1700000000, 50, -1),
            lambda: quillmark.copy_ticks_range("EURUSD", 1700000000, 1700000100, -1),
        ],
        {
            command: answers(command, counted(60, 50), counted(60, 0))
            for command in (104, 105, 106, 107, 108)
        },
    ),
    # Refused before anything is sent, or sent nowhere.
    "refusals": (
        [
            lambda: quillmark.symbol_info("X" * 30),
            lambda: quillmark.copy_rates_from_pos(b"EURUSD", 1, 0, 10),
            lambda: quillmark.positions_get(group="*" * 1998),
            lambda: quillmark.order_send({"action": "buy"}),
            lambda: quillmark.login(0),
            lambda: quillmark.history_deals_get(0),
            lambda: quillmark.order_calc_margin(0, "EURUSD", 1, 1.1),
        ],
        {},
    ),
}


def shared_objects() -> List[Any]:
    """Objects every call may touch and must give back as it found them."""
    types = [getattr(quillmark, name) for name in (
        "TradePosition", "TradeOrder", "TradeDeal", "TradeRequest", "OrderSendResult",
        "OrderCheckResult", "Tick", "TerminalInfo", "SymbolInfo", "AccountInfo", "BookInfo")]
    return [None, True, False, *types]


def check_handed_out(result: Any) -> None:
    """Only the caller holds what a call returns: three references here (the
    caller's variable, this parameter, getrefcount's argument); a record in a
    returned tuple, only the tuple (and `item`, and the argument)."""
    shared = result is None or isinstance(result, (bool, int, float, str))
    if shared or (isinstance(result, tuple) and len(result) == 0):
        return  # shared or cached by the interpreter
    assert sys.getrefcount(result) == 3
    if isinstance(result, tuple):
        for item in result:
            if hasattr(item, "_asdict"):
                assert sys.getrefcount(item) == 3


def run_loop(calls: List[Call], count: int, start: int = 0) -> None:
    for i in range(start, start + count):
        result = calls[i % len(calls)]()
        if i % 997 == 0:
            check_handed_out(result)
        del result


@pytest.fixture
def link(tmp_path: Path, request: pytest.FixtureRequest) -> Iterator[Tuple[List[Call], str]]:
    name = request.param
    calls, replies = FAMILIES[name]
    replies = {4: [wire.reply(4, 0, wire.u32(4000))], 109: [wire.reply(109, 0, wire.u32(2))],
               **replies}
    peer = CannedPeer(tmp_path / "peer", replies)
    PEER["path"] = peer.path
    try:
        if name != "refusals":
            assert quillmark.initialize(path=peer.path), quillmark.last_error()
        yield calls, name
    finally:
        quillmark.shutdown()
        peer.stop()


@pytest.mark.parametrize("link", sorted(FAMILIES), indirect=True)
def test_family_in_a_long_loop_keeps_memory_and_references(link: Tuple[List[Call], str]) -> None:
    calls, name = link
    run_loop(calls, WARM_UP)
    gc.collect()
    objects = shared_objects()
    references = [sys.getrefcount(item) for item in objects]
    blocks = sys.getallocatedblocks()
    rss = rss_bytes()

    run_loop(calls, CALLS, WARM_UP)
    gc.collect()

    # A reference lost or kept per call would move these by thousands; the
    # loop itself may move one by a step or two.
    for item, before in zip(objects, references):
        assert abs(sys.getrefcount(item) - before) < 50, f"{name}: references of {item!r}"
    # One leaked object per call would be thousands of blocks.
    assert sys.getallocatedblocks() - blocks < 500
    if not SANITIZED:
        assert rss_bytes() - rss < 2 << 20, f"{name}: memory grew"
    if name != "refusals":
        # The loop ran against the peer to the end.
        assert quillmark.last_error()[0] != -10004


def test_arrays_give_their_type_back(tmp_path: Path) -> None:
    peer = CannedPeer(tmp_path / "peer", {
        4: [wire.reply(4, 0, wire.u32(4000))], 109: [wire.reply(109, 0, wire.u32(2))],
        108: answers(108, counted(60, 5), counted(60, 0))})
    try:
        assert quillmark.initialize(path=peer.path)
        kept = quillmark.copy_rates_from_pos("EURUSD", 1, 0, 5)
        dtype = kept.dtype
        references = sys.getrefcount(dtype)
        run_loop([lambda: quillmark.copy_rates_from_pos("EURUSD", 1, 0, 5)], CALLS // 10)
        assert sys.getrefcount(dtype) == references
    finally:
        quillmark.shutdown()
        peer.stop()


MIXED_REQUESTS = [
    (109, b""),
    (173, b""),
    (170, text("EURUSD")),
    (172, text("GBPUSD")),
    (108, text("EURUSD") + struct.pack("<iii", 1, 0, 2000)),
    (104, text("EURUSD") + struct.pack("<qii", 1760000000000, 500, -1)),
    (193, text("EURUSD")),
    (121, b""),
    (131, b""),
    (141, struct.pack("<qq", 0, 2000000000)),
    (151, struct.pack("<qq", 0, 2000000000)),
    (180, b""),
    (190, b""),
    (162, struct.pack("<I", 0) + text("EURUSD") + struct.pack("<dd", 1.0, 1.1)),
    (170, text("NOSUCHSYMBOL")),
    (9999, b""),
]


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's quarantine keeps freed memory on purpose")
@pytest.mark.skipif(sys.platform == "win32", reason="reads the terminal's memory from /proc")
def test_terminal_memory_is_stable_over_a_long_session(terminal: TerminalHome) -> None:
    (pid,) = terminal.running_pids()
    rounds = CALLS // len(MIXED_REQUESTS)

    def session(count: int) -> None:
        with RawClient(terminal.socket_path) as raw:
            raw.call(191, text("EURUSD"))
            for _ in range(count):
                for command, payload in MIXED_REQUESTS:
                    raw.request(command, payload)
                    echoed, _, _ = raw.reply()
                    assert echoed == command

    session(rounds // 4)
    before = process_memory_bytes(pid)
    for _ in range(4):
        session(rounds // 4)
    assert process_memory_bytes(pid) - before < 4 << 20
