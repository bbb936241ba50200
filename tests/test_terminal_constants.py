"""The package's named constants carry exactly the bundled terminal's values."""

from __future__ import annotations

import re
from pathlib import Path

import pytest

import quillmark
from quillmark import constants

ENUMS = Path(__file__).resolve().parents[1] / "src" / "terminal" / "enums.h"


def enumerators() -> list:
    """(first word, rest, value) of every enumerator, kTradeActionDeal giving
    ("TRADE", "ACTION_DEAL", 1)."""
    found = []
    for body in re.findall(r"enum \w+ : \w+ \{(.*?)\};", ENUMS.read_text(), re.S):
        for name, value in re.findall(r"k(\w+)\s*=\s*([^,/\n]+)", body):
            words = re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name).upper().split("_")
            found.append((words[0], "_".join(words[1:]), eval(value, {})))
    return found


@pytest.mark.skipif(not ENUMS.exists(), reason="needs the source tree")
def test_every_terminal_value_has_its_name() -> None:
    missing = []
    for first, rest, value in enumerators():
        if not any(first in name and name.endswith(rest) and getattr(constants, name) == value
                   for name in constants.__all__):
            missing.append(f"{first}_{rest}={value}")
    assert not missing


@pytest.mark.parametrize(
    "name, value",
    [("TIMEFRAME_H4", 0x4000 | 4), ("TIMEFRAME_MN1", 0xC000 | 1), ("COPY_TICKS_ALL", -1),
     ("TRADE_RETCODE_DONE", 10009), ("ORDER_TYPE_SELL_STOP_LIMIT", 7),
     ("SYMBOL_ORDER_CLOSE_BY", 64), ("DEAL_REASON_SL", 4)],
)
def test_names_reach_the_package(name: str, value: int) -> None:
    assert getattr(quillmark, name) == value
    assert name in quillmark.__all__
