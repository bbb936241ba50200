"""The table of enumeration names that scripts use, the terminal's enums.h and
the package's constants carry the same names and values."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Dict, List, Tuple

import pytest

import quillmark
from quillmark import constants

ROOT = Path(__file__).resolve().parents[1]
TABLE = ROOT / "src" / "wire" / "constants.tsv"
ENUMS = ROOT / "src" / "wire" / "enums.h"

# Prefixes that the terminal's enumerators shorten; the reasons of orders,
# deals and positions share one enumeration there.
ENUM_PREFIXES = [
    ("TRADE_RETCODE_", "RETCODE_"),
    ("SYMBOL_TRADE_EXECUTION_", "SYMBOL_EXECUTION_"),
    ("ORDER_REASON_", "REASON_"),
    ("DEAL_REASON_", "REASON_"),
    ("POSITION_REASON_", "REASON_"),
]
ENUM_WORDS = {"REASON_SO": "REASON_STOP_OUT"}


def table() -> List[Tuple[str, str, int]]:
    rows = []
    for line in TABLE.read_text().splitlines():
        if line and not line.startswith("#") and line != "group\tname\tvalue":
            group, name, value = line.split("\t")
            rows.append((group, name, int(value)))
    return rows


def enumerators() -> Dict[str, int]:
    """Every enumerator of enums.h by its name without "k", lower-cased and
    without word breaks: kDealEntryInOut is "dealentryinout"."""
    found: Dict[str, int] = {}
    for body in re.findall(r"enum \w+ : \w+ \{(.*?)\};", ENUMS.read_text(), re.S):
        for name, value in re.findall(r"\bk(\w+)\s*=\s*([^,/\n]+)", body):
            assert name.lower() not in found, f"k{name} defined twice"
            found[name.lower()] = eval(value, {})
    return found


def enumerator_key(name: str) -> str:
    for prefix, short in ENUM_PREFIXES:
        if name.startswith(prefix):
            name = short + name[len(prefix):]
    name = ENUM_WORDS.get(name, name)
    return name.replace("_", "").lower()


def test_table_is_whole() -> None:
    rows = table()
    names = [name for _, name, _ in rows]
    assert len(rows) == 221
    assert len(set(names)) == len(names)


def test_every_table_row_is_a_package_constant() -> None:
    wrong = [(name, getattr(constants, name, None), value)
             for _, name, value in table() if getattr(constants, name, None) != value]
    assert wrong == []
    missing = [name for _, name, _ in table()
               if name not in constants.__all__ or getattr(quillmark, name, None) is None]
    assert missing == []


@pytest.mark.skipif(not ENUMS.exists(), reason="needs the source tree")
def test_every_table_row_is_a_terminal_enumerator() -> None:
    found = enumerators()
    wrong = [(name, found.get(enumerator_key(name)), value)
             for _, name, value in table() if found.get(enumerator_key(name)) != value]
    assert wrong == []


def test_package_names_beyond_the_table_are_its_own() -> None:
    # Another spelling of a table value (DEAL_ENTRY_IN_OUT beside
    # DEAL_ENTRY_INOUT) would let scripts drift from the conventional names.
    listed = {name for _, name, _ in table()}
    own = set(constants.__all__) - listed
    assert own == {"TERMINAL_STATE_CONNECTING", "TERMINAL_STATE_READY",
                   "TERMINAL_STATE_AUTH_FAILED"}

