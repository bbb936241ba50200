"""The module calls the reply fuzzer makes, and what must hold after each.

Loaded by reply_fuzz into its embedded interpreter, where the extension is a
built-in module named ``_core``. Every call uses arguments the module accepts,
so that each one reaches the pipe and the fuzzer's bytes decide the rest.
The order of CALLS is the meaning of the call byte in the corpus files: add
new calls at the end only.
"""

from __future__ import annotations

from typing import Any, Callable, Dict, List, Tuple

import numpy

import _core as m

REQUEST: Dict[str, Any] = {
    "action": 1,
    "symbol": "EURUSD",
    "volume": 0.1,
    "type": 0,
    "price": 1.1,
    "sl": 1.0,
    "tp": 1.2,
    "deviation": 10,
    "magic": 7,
    "comment": "reply fuzz",
    "type_time": 0,
    "type_filling": 0,
}

Call = Tuple[Callable[..., Any], Tuple[Any, ...], Dict[str, Any]]

CALLS: List[Call] = [
    (m.version, (), {}),
    (m.login, (1234,), {"password": "secret", "server": "Demo", "timeout": 300}),
    (m.terminal_info, (), {}),
    (m.account_info, (), {}),
    (m.symbols_total, (), {}),
    (m.symbols_get, (), {}),
    (m.symbols_get, (), {"group": "*USD*,!EUR*"}),
    (m.symbol_info, ("EURUSD",), {}),
    (m.symbol_info_tick, ("EURUSD",), {}),
    (m.symbol_select, ("EURUSD", True), {}),
    (m.market_book_add, ("EURUSD",), {}),
    (m.market_book_get, ("EURUSD",), {}),
    (m.market_book_release, ("EURUSD",), {}),
    (m.copy_rates_from, ("EURUSD", 16385, 1760000000, 10), {}),
    (m.copy_rates_from_pos, ("EURUSD", 1, 0, 10), {}),
    (m.copy_rates_range, ("EURUSD", 16385, 1760000000, 1760086400), {}),
    (m.copy_ticks_from, ("EURUSD", 1760000000, 10, -1), {}),
    (m.copy_ticks_range, ("EURUSD", 1760000000, 1760000030, -1), {}),
    (m.order_check, (REQUEST,), {}),
    (m.order_send, (REQUEST,), {}),
    (m.order_calc_margin, (0, "EURUSD", 1.0, 1.1), {}),
    (m.order_calc_profit, (0, "EURUSD", 1.0, 1.1, 1.2), {}),
    (m.positions_total, (), {}),
    (m.positions_get, (), {}),
    (m.positions_get, (), {"group": "*,!GBP*"}),
    (m.positions_get, (), {"symbol": "EURUSD"}),
    (m.positions_get, (), {"ticket": 17}),
    (m.orders_total, (), {}),
    (m.orders_get, (), {}),
    (m.orders_get, (), {"group": "EUR*"}),
    (m.orders_get, (), {"symbol": "EURUSD"}),
    (m.orders_get, (), {"ticket": 17}),
    (m.history_orders_total, (0, 2000000000), {}),
    (m.history_orders_get, (0, 2000000000), {}),
    (m.history_orders_get, (0, 2000000000), {"group": "*JPY"}),
    (m.history_orders_get, (), {"position": 5}),
    (m.history_orders_get, (), {"ticket": 5}),
    (m.history_deals_total, (0, 2000000000), {}),
    (m.history_deals_get, (0, 2000000000), {}),
    (m.history_deals_get, (0, 2000000000), {"group": "*"}),
    (m.history_deals_get, (), {"position": 5}),
    (m.history_deals_get, (), {"ticket": 5}),
]


def _touch_record(record: Any) -> None:
    values = record._asdict()
    assert len(values) == len(record)
    request = values.get("request")
    if request is not None:
        request._asdict()


def check(result: Any) -> None:
    """What every call must leave behind, whatever the peer sent."""
    code, message = m.last_error()
    assert isinstance(code, int) and isinstance(message, str)
    if result is None:
        assert code < 0, (code, message)
    if code < 0:
        assert message, code
    if isinstance(result, numpy.ndarray):
        assert result.ndim == 1 and result.dtype.itemsize == 60
        # Reading every byte lets the sanitizer see storage smaller than the
        # array claims.
        result.tobytes()
    elif isinstance(result, tuple) and result and hasattr(result[0], "_asdict"):
        for record in result:
            _touch_record(record)
    elif hasattr(result, "_asdict"):
        _touch_record(result)
