"""Importing the extension: its attributes, its first state, and the NumPy checks."""

from __future__ import annotations

import importlib.util
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quillmark
from quillmark import _core

FUNCTIONS = {
    "initialize", "shutdown", "login", "version", "terminal_info", "account_info",
    "copy_ticks_from", "copy_ticks_range", "copy_rates_from", "copy_rates_from_pos",
    "copy_rates_range", "positions_total", "positions_get", "orders_total", "orders_get",
    "history_orders_total", "history_orders_get", "history_deals_total", "history_deals_get",
    "order_check", "order_send", "order_calc_margin", "order_calc_profit", "symbol_info",
    "symbol_info_tick", "symbol_select", "symbols_total", "symbols_get", "market_book_add",
    "market_book_release", "market_book_get", "last_error",
}  # fmt: skip
RECORD_TYPES = {
    "TradePosition", "TradeOrder", "TradeDeal", "TradeRequest", "OrderSendResult",
    "OrderCheckResult", "Tick", "TerminalInfo", "SymbolInfo", "AccountInfo", "BookInfo",
}  # fmt: skip
NO_ARGUMENTS = {
    "shutdown", "version", "terminal_info", "account_info", "positions_total",
    "orders_total", "symbols_total", "last_error",
}  # fmt: skip
POSITIONAL_ONLY = {
    "copy_ticks_from", "copy_ticks_range", "copy_rates_from", "copy_rates_from_pos",
    "copy_rates_range", "history_orders_total", "history_deals_total", "order_calc_margin",
    "order_calc_profit", "symbol_info", "symbol_info_tick", "symbol_select",
    "market_book_add", "market_book_release", "market_book_get",
}  # fmt: skip


def run_python(code: str, *path: Path) -> subprocess.CompletedProcess[str]:
    prefix = "import sys\n" + "".join(f"sys.path.insert(0, {str(p)!r})\n" for p in path)
    return subprocess.run(
        [sys.executable, "-c", prefix + textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=60,
    )


def test_module_holds_exactly_the_functions_and_record_types() -> None:
    own = {name for name in vars(_core) if not name.startswith("__")}
    assert own == FUNCTIONS | RECORD_TYPES
    assert _core.__doc__ == "API Connector to Quillmark Terminal"
    assert _core.__name__ == "quillmark._core"
    # Bars and ticks come back as arrays, but their dtypes are not published.
    assert not hasattr(_core, "rates_dtype") and not hasattr(_core, "ticks_dtype")


def test_package_reexports_every_name() -> None:
    assert set(quillmark.__all__) >= FUNCTIONS | RECORD_TYPES
    assert len(quillmark.__all__) == len(set(quillmark.__all__))
    for name in FUNCTIONS | RECORD_TYPES:
        assert getattr(quillmark, name) is getattr(_core, name)


def test_last_error_right_after_import_is_untouched() -> None:
    # A fresh interpreter: every other test has called functions by now.
    result = run_python("import quillmark; print(repr(quillmark.last_error()))")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "(0, '')"


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_doc_string_is_signature_then_description(name: str) -> None:
    signature, separator, description = getattr(_core, name).__doc__.partition("\n\n")
    assert separator and description and "\n" not in description
    assert signature.startswith(name + "(") and signature.endswith(")")


def test_doc_strings_keep_their_own_spelling() -> None:
    assert _core.order_calc_margin.__doc__.startswith("order_calc_margin(action, symbol, volume, price,)")
    assert _core.symbols_get.__doc__.endswith("Return all available symbols or filtred by group")
    assert _core.initialize.__doc__ == (
        'initialize([path],[server="SERVER"],[login=LOGIN],[password="PASSWORD"])\n\n'
        "Establish connection to Quillmark terminal"
    )


@pytest.mark.parametrize("name", sorted(NO_ARGUMENTS))
def test_functions_without_arguments_refuse_one(name: str) -> None:
    with pytest.raises(TypeError):
        getattr(_core, name)(1)


@pytest.mark.parametrize("name", sorted(POSITIONAL_ONLY))
def test_positional_functions_refuse_keywords(name: str) -> None:
    with pytest.raises(TypeError):
        getattr(_core, name)(symbol="EURUSD")


# --- the NumPy import, with a stand-in numpy package first on sys.path ---

LOAD_EXTENSION = """
import importlib.util
import re
spec = importlib.util.spec_from_file_location("_core", {origin!r})
try:
    spec.loader.exec_module(importlib.util.module_from_spec(spec))
except ImportError as error:
    print("ImportError:", error)
else:
    print("imported")
"""

FAKE_API_TABLE = """
import ctypes

VERSION = ctypes.CFUNCTYPE(ctypes.c_uint)
ENDIANNESS = ctypes.CFUNCTYPE(ctypes.c_int)
_functions = (
    VERSION(lambda: {abi}), ENDIANNESS(lambda: {endianness}), VERSION(lambda: {feature})
)
_table = (ctypes.c_void_p * 400)()
for _slot, _function in zip((0, 210, 211), _functions):
    _table[_slot] = ctypes.cast(_function, ctypes.c_void_p)
_new = ctypes.pythonapi.PyCapsule_New
_new.restype = ctypes.py_object
_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
_ARRAY_API = _new(ctypes.addressof(_table), None, None)
"""


def extension_path() -> str:
    spec = importlib.util.find_spec("quillmark._core")
    assert spec is not None and spec.origin is not None
    return spec.origin


def import_with_fake_numpy(root: Path, modules: dict[str, str]) -> subprocess.CompletedProcess[str]:
    (root / "numpy").mkdir()
    (root / "numpy" / "__init__.py").touch()
    for dotted, source in modules.items():
        package, _, name = dotted.rpartition(".")
        folder = root.joinpath(*package.split("."))
        folder.mkdir(exist_ok=True)
        (folder / "__init__.py").touch()
        (folder / f"{name}.py").write_text(textwrap.dedent(source))
    return run_python(LOAD_EXTENSION.format(origin=extension_path()), root)


FAILED_IMPORT = "ImportError: numpy._core.multiarray failed to import"


def test_numpy_1_module_name_is_tried_when_the_new_one_is_missing(tmp_path: Path) -> None:
    result = import_with_fake_numpy(
        tmp_path, {"numpy.core._multiarray_umath": "print('old module name imported')"}
    )
    assert result.stdout.splitlines() == ["old module name imported", FAILED_IMPORT]
    # The cause is printed before the import fails.
    assert "_ARRAY_API" in result.stderr


def test_no_fallback_when_the_new_module_fails_otherwise(tmp_path: Path) -> None:
    result = import_with_fake_numpy(
        tmp_path,
        {
            "numpy._core._multiarray_umath": "raise ImportError('broken build')",
            "numpy.core._multiarray_umath": "print('old module name imported')",
        },
    )
    assert result.stdout.splitlines() == [FAILED_IMPORT]
    assert "broken build" in result.stderr


@pytest.mark.parametrize(
    ("abi", "feature", "endianness", "cause"),
    [
        (0x2000001, 20, 1, "ABI version"),
        (0x1000009, 12, 1, "C-API version 0xc"),
        (0x2000000, 13, 2, "endianness"),
    ],
    ids=["abi-too-new", "feature-below-1.16", "big-endian"],
)
def test_incompatible_numpy_fails_the_import(
    tmp_path: Path, abi: int, feature: int, endianness: int, cause: str
) -> None:
    table = FAKE_API_TABLE.format(abi=abi, feature=feature, endianness=endianness)
    result = import_with_fake_numpy(tmp_path, {"numpy._core._multiarray_umath": table})
    assert result.stdout.splitlines() == [FAILED_IMPORT]
    assert cause in result.stderr


def test_array_api_must_be_a_capsule(tmp_path: Path) -> None:
    result = import_with_fake_numpy(tmp_path, {"numpy._core._multiarray_umath": "_ARRAY_API = 1"})
    assert result.stdout.splitlines() == [FAILED_IMPORT]
    assert "_ARRAY_API is not PyCapsule object" in result.stderr


def test_version_and_author_in_a_fresh_interpreter() -> None:
    result = run_python("import quillmark as q; print(q.__version__, q.__author__)")
    assert result.returncode == 0, result.stderr
    pyproject = Path(__file__).resolve().parents[1] / "pyproject.toml"
    declared = re.search(r'^version = "([^"]+)"', pyproject.read_text(), re.M)
    assert declared is not None
    version, author = result.stdout.strip().split(" ", 1)
    assert version == declared.group(1)
    assert author and isinstance(quillmark.__author__, str)
    assert {"Buy", "Sell", "Close", "terminal_path"} <= set(quillmark.__all__)
