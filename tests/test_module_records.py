"""Record objects: their types, fields and `_asdict`."""

from __future__ import annotations

import ctypes
import sys
from typing import Any

import pytest

import quillmark

FIELDS: dict[str, list[str]] = {
    "TradePosition": """
        ticket time time_msc time_update time_update_msc type magic identifier reason volume
        price_open sl tp price_current swap profit symbol comment external_id
    """.split(),
    "TradeOrder": """
        ticket time_setup time_setup_msc time_done time_done_msc time_expiration type
        type_time type_filling state magic position_id position_by_id reason volume_initial
        volume_current price_open sl tp price_current price_stoplimit symbol comment
        external_id
    """.split(),
    "TradeDeal": """
        ticket order time time_msc type entry magic position_id reason volume price
        commission swap profit fee symbol comment external_id
    """.split(),
    "TradeRequest": """
        action magic order symbol volume price stoplimit sl tp deviation type type_filling
        type_time expiration comment position position_by
    """.split(),
    "OrderSendResult": """
        retcode deal order volume price bid ask comment request_id retcode_external request
    """.split(),
    "OrderCheckResult": """
        retcode balance equity profit margin margin_free margin_level comment request
    """.split(),
    "Tick": """
        time bid ask last volume time_msc flags volume_real
    """.split(),
    "TerminalInfo": """
        community_account community_connection connected dlls_allowed trade_allowed
        tradeapi_disabled email_enabled ftp_enabled notifications_enabled bxid build maxbars
        codepage ping_last community_balance retransmission company name language path
        data_path commondata_path
    """.split(),
    "SymbolInfo": """
        custom chart_mode select visible session_deals session_buy_orders
        session_sell_orders volume volumehigh volumelow time digits spread spread_float
        ticks_bookdepth trade_calc_mode trade_mode start_time expiration_time
        trade_stops_level trade_freeze_level trade_exemode swap_mode swap_rollover3days
        margin_hedged_use_leg expiration_mode filling_mode order_mode order_gtc_mode
        option_mode option_right bid bidhigh bidlow ask askhigh asklow last lasthigh lastlow
        volume_real volumehigh_real volumelow_real option_strike point trade_tick_value
        trade_tick_value_profit trade_tick_value_loss trade_tick_size trade_contract_size
        trade_accrued_interest trade_face_value trade_liquidity_rate volume_min volume_max
        volume_step volume_limit swap_long swap_short margin_initial margin_maintenance
        session_volume session_turnover session_interest session_buy_orders_volume
        session_sell_orders_volume session_open session_close session_aw
        session_price_settlement session_price_limit_min session_price_limit_max
        margin_hedged price_change price_volatility price_theoretical price_greeks_delta
        price_greeks_theta price_greeks_gamma price_greeks_vega price_greeks_rho
        price_greeks_omega price_sensitivity basis category currency_base currency_profit
        currency_margin bank description exchange formula isin name page path
    """.split(),
    "AccountInfo": """
        login trade_mode leverage limit_orders margin_so_mode trade_allowed trade_expert
        margin_mode currency_digits fifo_close balance credit profit equity margin
        margin_free margin_level margin_so_call margin_so_so margin_initial
        margin_maintenance assets liabilities commission_blocked name server currency
        company
    """.split(),
    "BookInfo": """
        type price volume volume_dbl
    """.split(),
}

DOCS = {
    "TradePosition": "Trade position structure",
    "TradeOrder": "Trade order structure",
    "TradeDeal": "Trade deal structure",
    "TradeRequest": "Trade request structure",
    "OrderSendResult": "order_send result structure",
    "OrderCheckResult": "order_check result structure",
    "Tick": "This is a structure for storing latest symbol prices",
    "TerminalInfo": "This is a structure for storing terminal information",
    "SymbolInfo": "This is a structure for storing symbol information",
    "AccountInfo": "This is a structure for storing account information",
    "BookInfo": "This is a structure for storing Depth of Market information",
}


def make(type_name: str, values: list[Any] | None = None) -> Any:
    record_type = getattr(quillmark, type_name)
    return record_type(values if values is not None else range(len(FIELDS[type_name])))


def a_failed_call() -> tuple[int, str]:
    quillmark.shutdown()
    assert quillmark.symbol_info("EURUSD") is None
    failure = quillmark.last_error()
    assert failure[0] < 0
    return failure


@pytest.mark.parametrize("type_name", sorted(FIELDS))
def test_record_type_shape(type_name: str) -> None:
    record_type = getattr(quillmark, type_name)
    assert record_type.__name__ == type_name
    assert record_type.__doc__ == DOCS[type_name]
    count = len(FIELDS[type_name])
    assert (record_type.n_fields, record_type.n_sequence_fields) == (count, count)
    assert record_type.n_unnamed_fields == 0
    assert record_type._asdict.__doc__ == "Convert named tuple object to dictionary"
    record = make(type_name)
    assert isinstance(record, tuple) and len(record) == count
    assert repr(record).startswith(type_name + "(")
    assert [getattr(record, name) for name in FIELDS[type_name]] == list(range(count))
    with pytest.raises(TypeError):
        record_type(range(count + 1))


@pytest.mark.parametrize("type_name", sorted(FIELDS))
def test_asdict_keys_follow_field_order(type_name: str) -> None:
    record = make(type_name)
    result = record._asdict()
    assert type(result) is dict
    assert list(result) == FIELDS[type_name]
    assert list(result.values()) == list(range(len(FIELDS[type_name])))


def test_terminal_info_bxid_and_symbol_info_size() -> None:
    assert FIELDS["TerminalInfo"].index("bxid") == 9
    assert make("TerminalInfo").bxid == 9
    assert len(make("SymbolInfo")._asdict()) == 96


@pytest.mark.parametrize("type_name", ["OrderSendResult", "OrderCheckResult"])
def test_asdict_keeps_the_nested_request_a_record(type_name: str) -> None:
    request = make("TradeRequest")
    values: list[Any] = list(range(len(FIELDS[type_name])))
    values[FIELDS[type_name].index("request")] = request
    result = make(type_name, values)._asdict()
    assert result["request"] is request
    assert result["request"].symbol == 3


def test_asdict_leaves_an_earlier_failure_in_place() -> None:
    failure = a_failed_call()
    assert make("Tick")._asdict() is not None
    assert quillmark.last_error() == failure


# `_asdict` refuses records it cannot read. A Python-level call never gets
# there (the method descriptor checks the type and raises TypeError), so these
# tests reach the C function directly.

POINTER = ctypes.sizeof(ctypes.c_void_p)
cpython_only = pytest.mark.skipif(
    sys.implementation.name != "cpython", reason="reads CPython object layouts"
)


def call_asdict_function(self: object) -> Any:
    descriptor = quillmark.TradePosition.__dict__["_asdict"]
    # PyMethodDescrObject: object header, d_type, d_name, d_qualname, d_method.
    method_def = ctypes.c_void_p.from_address(id(descriptor) + 5 * POINTER).value
    assert method_def is not None
    assert ctypes.c_char_p.from_address(method_def).value == b"_asdict"
    address = ctypes.c_void_p.from_address(method_def + POINTER).value
    function = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.py_object)(address)
    return function(self, None)


def test_python_call_on_a_foreign_object_is_a_type_error() -> None:
    with pytest.raises(TypeError):
        quillmark.TradePosition._asdict(tuple(range(19)))  # type: ignore[arg-type]


@cpython_only
@pytest.mark.parametrize("foreign", [tuple(range(19)), object(), {"ticket": 1}])
def test_asdict_of_a_foreign_object(foreign: object) -> None:
    assert call_asdict_function(foreign) is None
    assert quillmark.last_error() == (-2, "Invalid object type")
    # The real records are still recognised, each as its own type.
    assert list(call_asdict_function(make("BookInfo"))) == FIELDS["BookInfo"]


@cpython_only
def test_asdict_of_a_record_of_the_wrong_length() -> None:
    record = make("TradeRequest")
    size = ctypes.c_ssize_t.from_address(id(record) + 2 * POINTER)
    assert size.value == 17
    size.value = 16
    try:
        assert record._asdict() is None
    finally:
        size.value = 17
    assert quillmark.last_error() == (-2, "Invalid tuple size")
    # A good record afterwards does not clear the failure.
    assert make("TradeRequest")._asdict() is not None
    assert quillmark.last_error() == (-2, "Invalid tuple size")
