"""Drive a Quillmark trading terminal from Python.

Every function records a status code and a message instead of raising;
``last_error()`` returns the pair for the most recent call.
"""

from importlib.metadata import PackageNotFoundError, version as _package_version

from ._core import (
    AccountInfo,
    BookInfo,
    OrderCheckResult,
    OrderSendResult,
    SymbolInfo,
    TerminalInfo,
    Tick,
    TradeDeal,
    TradeOrder,
    TradePosition,
    TradeRequest,
    account_info,
    copy_rates_from,
    copy_rates_from_pos,
    copy_rates_range,
    copy_ticks_from,
    copy_ticks_range,
    history_deals_get,
    history_deals_total,
    history_orders_get,
    history_orders_total,
    initialize,
    last_error,
    login,
    market_book_add,
    market_book_get,
    market_book_release,
    order_calc_margin,
    order_calc_profit,
    order_check,
    order_send,
    orders_get,
    orders_total,
    positions_get,
    positions_total,
    shutdown,
    symbol_info,
    symbol_info_tick,
    symbol_select,
    symbols_get,
    symbols_total,
    terminal_info,
    version,
)

__all__ = [
    # Connection
    "initialize",
    "login",
    "shutdown",
    "version",
    "last_error",
    # Terminal, account and symbols
    "terminal_info",
    "account_info",
    "symbols_total",
    "symbols_get",
    "symbol_info",
    "symbol_info_tick",
    "symbol_select",
    "market_book_add",
    "market_book_get",
    "market_book_release",
    # Market data
    "copy_rates_from",
    "copy_rates_from_pos",
    "copy_rates_range",
    "copy_ticks_from",
    "copy_ticks_range",
    # Trading
    "order_check",
    "order_send",
    "order_calc_margin",
    "order_calc_profit",
    # Positions, orders and history
    "positions_total",
    "positions_get",
    "orders_total",
    "orders_get",
    "history_orders_total",
    "history_orders_get",
    "history_deals_total",
    "history_deals_get",
    # Record types
    "AccountInfo",
    "BookInfo",
    "OrderCheckResult",
    "OrderSendResult",
    "SymbolInfo",
    "TerminalInfo",
    "Tick",
    "TradeDeal",
    "TradeOrder",
    "TradePosition",
    "TradeRequest",
]

# Further names of the package are imported and added to __all__ below.

from .terminal import terminal_path  # noqa: E402
from .helpers import Buy, Close, Sell  # noqa: E402
from .replays import ReplayError, replay  # noqa: E402
from .constants import *  # noqa: E402,F401,F403
from . import constants as _constants  # noqa: E402

__all__ += ["terminal_path", "Buy", "Sell", "Close", "replay", "ReplayError"]
__all__ += _constants.__all__

try:
    # The version has one source, pyproject.toml, which the installed
    # package's metadata carries.
    __version__: str = _package_version("quillmark")
except PackageNotFoundError:
    __version__ = "0+unknown"
__author__ = "The quillmark developers"
