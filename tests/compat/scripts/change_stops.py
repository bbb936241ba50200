# Change the stop loss and take profit of an open position.
import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

symbol = "BTCUSD"
tick = mt.symbol_info_tick(symbol)
digits = mt.symbol_info(symbol).digits
opened = mt.order_send({
    "action": mt.TRADE_ACTION_DEAL, "symbol": symbol, "volume": 0.05,
    "type": mt.ORDER_TYPE_SELL, "price": tick.bid, "deviation": 50,
    "type_filling": mt.ORDER_FILLING_FOK, "comment": "to be protected",
})
assert opened.retcode == mt.TRADE_RETCODE_DONE, opened
ticket = opened.order

for sl_pct, tp_pct in ((1.03, 0.97), (1.02, 0.95)):
    position = mt.positions_get(ticket=ticket)[0]
    sl = round(position.price_open * sl_pct, digits)
    tp = round(position.price_open * tp_pct, digits)
    result = mt.order_send({"action": mt.TRADE_ACTION_SLTP, "symbol": symbol,
                            "position": ticket, "sl": sl, "tp": tp})
    print("SLTP", sl, tp, "->", result.retcode, result.comment)
    assert result.retcode == mt.TRADE_RETCODE_DONE, result
    position = mt.positions_get(ticket=ticket)[0]
    print(f"position {ticket}: sl={position.sl} tp={position.tp}")
    assert (position.sl, position.tp) == (sl, tp)

unchanged = mt.order_send({"action": mt.TRADE_ACTION_SLTP, "symbol": symbol,
                           "position": ticket, "sl": sl, "tp": tp})
print("same stops again:", unchanged.retcode, unchanged.comment)
assert unchanged.retcode == mt.TRADE_RETCODE_NO_CHANGES

closed = mt.Close(symbol, ticket=ticket)
print("closed:", closed)
assert closed
mt.shutdown()
