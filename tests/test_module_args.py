"""The shared argument rules, seen through the functions that use them.

Without a link, an accepted argument lets the call go on until it finds no
connection (-10004), while a refused one stops it with -2 first.
"""

from __future__ import annotations

import datetime
from collections.abc import Callable, Iterator
from typing import Any

import numpy as np
import pytest

import quillmark

NO_LINK = (-10004, "No IPC connection")
INVALID = (-2, "Invalid arguments")


class Seconds(int):
    pass


class Real(float):
    pass


class Text(str):
    pass


class Moment(datetime.datetime):
    pass


class BrokenMoment(datetime.datetime):
    def timestamp(self) -> float:
        raise OverflowError("no timestamp")


@pytest.fixture(autouse=True)
def no_link() -> Iterator[None]:
    quillmark.shutdown()
    yield


def outcome(function: Callable[..., Any], *args: Any) -> tuple[int, str]:
    # A refusal must not leave a Python error behind: the call would raise
    # SystemError here instead of returning.
    function(*args)
    error = quillmark.last_error()
    if error[1].startswith("not built yet"):
        pytest.skip(f"{function.__name__} is not built yet")
    return error


UTC = datetime.timezone.utc
ACCEPTED_TIMES = [
    0, 1, -1, True, Seconds(7), 2**31 - 1, -(2**31),
    1.9, -1.9, Real(2.5), np.float64(3.5), float("nan"), 1e300, -1e300,
    datetime.datetime(2024, 1, 2, 3, 4, 5), datetime.datetime(2024, 1, 2, tzinfo=UTC),
    Moment(2024, 1, 2),
]  # fmt: skip
REFUSED_TIMES = [
    datetime.date(2024, 1, 2), "0", None, b"0", 2**31, -(2**31) - 1, 2**64,
    np.int64(5), BrokenMoment(2024, 1, 2), datetime.timedelta(seconds=1),
]  # fmt: skip


@pytest.mark.parametrize("time", ACCEPTED_TIMES, ids=repr)
@pytest.mark.parametrize("position", [0, 1])
def test_time_accepted(time: object, position: int) -> None:
    args = [0, 0]
    args[position] = time
    assert outcome(quillmark.history_orders_total, *args) == NO_LINK


@pytest.mark.parametrize("time", REFUSED_TIMES, ids=repr)
@pytest.mark.parametrize("position", [0, 1])
def test_time_refused(time: object, position: int) -> None:
    args = [0, 0]
    args[position] = time
    assert outcome(quillmark.history_orders_total, *args) == INVALID


ASTRAL = "\U0001f600"  # two UTF-16 units
ACCEPTED_SYMBOLS = [
    "A" * 29, "A" * 27 + ASTRAL, Text("EURUSD"), "", "ABC\0DEF", "\ud800", "Ä" * 29,
]  # fmt: skip
REFUSED_SYMBOLS = ["A" * 30, "A" * 28 + ASTRAL, ASTRAL * 15, b"EURUSD", None, 1]


@pytest.mark.parametrize("symbol", ACCEPTED_SYMBOLS, ids=repr)
def test_symbol_accepted(symbol: object) -> None:
    assert outcome(quillmark.symbol_info, symbol) == NO_LINK


@pytest.mark.parametrize("symbol", REFUSED_SYMBOLS, ids=repr)
def test_symbol_refused_not_cut(symbol: object) -> None:
    assert outcome(quillmark.symbol_info, symbol) == INVALID


# The trade request applies each number rule to one of its keys; a request
# with one key shows the rule alone.
NUMBER_RULES = {
    "action": (  # unsigned 32-bit
        [0, 2**32 - 1, True, Seconds(3)],
        [-1, 2**32, 1.0, "1", None],
    ),
    "magic": (  # unsigned 64-bit
        [0, 2**64 - 1, False],
        [-1, 2**64, 1.5, np.uint64(1)],
    ),
    "expiration": (  # signed 64-bit
        [-(2**63), 2**63 - 1, -1],
        [2**63, -(2**63) - 1, 1.0],
    ),
    "volume": (  # float only
        [1.0, -1.0, Real(0.5), np.float64(0.1), float("inf")],
        [1, True, "1.0", None],
    ),
}
NUMBER_CASES = [
    pytest.param(key, value, accepted, id=f"{key}={value!r}")
    for key, (good, bad) in NUMBER_RULES.items()
    for accepted, values in ((True, good), (False, bad))
    for value in values
]


@pytest.mark.parametrize(("key", "value", "accepted"), NUMBER_CASES)
def test_number_rules(key: str, value: object, accepted: bool) -> None:
    expected = NO_LINK if accepted else (-2, f'Invalid "{key}" argument')
    assert outcome(quillmark.order_check, {key: value}) == expected
