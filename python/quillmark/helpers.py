"""Market deals in one call: ``Buy``, ``Sell`` and ``Close``.

Written on top of the module's functions, as trading scripts use them:
``Buy("EURUSD", 0.1)``, ``Sell(symbol="USDJPY", volume=0.02)``,
``Close("USDJPY")`` or ``Close("USDJPY", ticket=123)``.
"""

from __future__ import annotations

from typing import Any, Dict, Optional

from . import _core
from .constants import (
    ORDER_FILLING_FOK,
    ORDER_FILLING_IOC,
    ORDER_FILLING_RETURN,
    ORDER_TYPE_BUY,
    ORDER_TYPE_SELL,
    POSITION_TYPE_BUY,
    SYMBOL_FILLING_FOK,
    SYMBOL_FILLING_IOC,
    TRADE_ACTION_DEAL,
    TRADE_RETCODE_DONE,
)

__all__ = ["Buy", "Sell", "Close"]

# How far, in points, the fill may be from the price read just before sending:
# the market keeps ticking between the two.
DEVIATION_POINTS = 20


def filling_for(symbol_filling_mode: int) -> int:
    """A filling policy that a symbol with these filling bits accepts."""
    if symbol_filling_mode & SYMBOL_FILLING_FOK:
        return ORDER_FILLING_FOK
    if symbol_filling_mode & SYMBOL_FILLING_IOC:
        return ORDER_FILLING_IOC
    return ORDER_FILLING_RETURN


def _deal(order_type: int, symbol: str, volume: float, price: Optional[float],
          comment: Optional[str], ticket: Optional[int]) -> Optional[_core.OrderSendResult]:
    info = _core.symbol_info(symbol)
    if info is None:
        return None
    if price is None:
        price = info.ask if order_type == ORDER_TYPE_BUY else info.bid
    request: Dict[str, Any] = {
        "action": TRADE_ACTION_DEAL,
        "symbol": symbol,
        "volume": float(volume),
        "type": order_type,
        "price": float(price),
        "deviation": DEVIATION_POINTS,
        "type_filling": filling_for(info.filling_mode),
    }
    if comment is not None:
        request["comment"] = comment
    if ticket is not None:
        request["position"] = ticket
    return _core.order_send(request)


def Buy(symbol: str, volume: float, price: Optional[float] = None, *,
        comment: Optional[str] = None,
        ticket: Optional[int] = None) -> Optional[_core.OrderSendResult]:
    """Buy `volume` lots of `symbol` at the current ask, or at `price`.

    Given a `ticket`, the deal acts on that position (it closes a sell
    position, wholly or in part). Returns the ``OrderSendResult``, or None
    when the request could not be made (``last_error()`` tells why).
    """
    return _deal(ORDER_TYPE_BUY, symbol, volume, price, comment, ticket)


def Sell(symbol: str, volume: float, price: Optional[float] = None, *,
         comment: Optional[str] = None,
         ticket: Optional[int] = None) -> Optional[_core.OrderSendResult]:
    """Sell `volume` lots of `symbol` at the current bid, or at `price`.

    Given a `ticket`, the deal acts on that position (it closes a buy
    position, wholly or in part). Returns the ``OrderSendResult``, or None
    when the request could not be made (``last_error()`` tells why).
    """
    return _deal(ORDER_TYPE_SELL, symbol, volume, price, comment, ticket)


def Close(symbol: str, *, comment: Optional[str] = None, ticket: Optional[int] = None) -> bool:
    """Close the open positions of `symbol`, or only the position `ticket`,
    each with an opposite deal of its whole volume.

    Returns True when every one closed; False when one was refused, or when
    no such position was open.
    """
    if ticket is None:
        positions = _core.positions_get(symbol=symbol)
    else:
        positions = _core.positions_get(ticket=ticket)
    if not positions:
        return False
    closed = True
    for position in positions:
        if position.symbol != symbol:
            return False
        opposite = ORDER_TYPE_SELL if position.type == POSITION_TYPE_BUY else ORDER_TYPE_BUY
        result = _deal(opposite, symbol, position.volume, None, comment, position.ticket)
        if result is None or result.retcode != TRADE_RETCODE_DONE:
            closed = False
    return closed
