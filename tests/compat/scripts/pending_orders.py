# Place a buy limit and a sell stop limit, move them, then remove them.
import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

symbol = "ETHUSD"
info = mt.symbol_info(symbol)
tick = mt.symbol_info_tick(symbol)
digits = info.digits


def send(request):
    result = mt.order_send(request)
    if result is None:
        print("order_send() failed, error code =", mt.last_error())
        quit(1)
    print(f"  {result.retcode} {result.comment} order={result.order}")
    return result


print("buy limit 3% below the market")
buy_limit = send({
    "action": mt.TRADE_ACTION_PENDING,
    "symbol": symbol,
    "volume": 0.5,
    "type": mt.ORDER_TYPE_BUY_LIMIT,
    "price": round(tick.ask * 0.97, digits),
    "sl": round(tick.ask * 0.95, digits),
    "tp": round(tick.ask * 1.02, digits),
    "type_time": mt.ORDER_TIME_GTC,
    "type_filling": mt.ORDER_FILLING_RETURN,
    "comment": "buy limit",
})
assert buy_limit.retcode == mt.TRADE_RETCODE_DONE, buy_limit

print("sell stop limit: stop 2% below, limit 1% below")
sell_stop_limit = send({
    "action": mt.TRADE_ACTION_PENDING,
    "symbol": symbol,
    "volume": 0.5,
    "type": mt.ORDER_TYPE_SELL_STOP_LIMIT,
    "price": round(tick.bid * 0.98, digits),
    "stoplimit": round(tick.bid * 0.99, digits),
    "type_time": mt.ORDER_TIME_DAY,
    "type_filling": mt.ORDER_FILLING_RETURN,
})
assert sell_stop_limit.retcode == mt.TRADE_RETCODE_DONE, sell_stop_limit

orders = mt.orders_get(symbol=symbol)
print("orders on", symbol, len(orders))
for order in orders:
    print("  ", order.ticket, order.type, order.price_open, order.price_stoplimit, order.state)
assert {o.ticket for o in orders} >= {buy_limit.order, sell_stop_limit.order}

print("move the buy limit 4% below the market")
new_price = round(tick.ask * 0.96, digits)
modified = send({
    "action": mt.TRADE_ACTION_MODIFY,
    "order": buy_limit.order,
    "price": new_price,
    "sl": round(tick.ask * 0.94, digits),
    "tp": round(tick.ask * 1.02, digits),
    "type_time": mt.ORDER_TIME_GTC,
})
assert modified.retcode == mt.TRADE_RETCODE_DONE, modified
assert mt.orders_get(ticket=buy_limit.order)[0].price_open == new_price

for ticket in (buy_limit.order, sell_stop_limit.order):
    removed = send({"action": mt.TRADE_ACTION_REMOVE, "order": ticket})
    assert removed.retcode == mt.TRADE_RETCODE_DONE, removed
assert not mt.orders_get(ticket=buy_limit.order)
history = mt.history_orders_get(ticket=buy_limit.order)
print("history of the buy limit:", history)
assert history[0].state == mt.ORDER_STATE_CANCELED
mt.shutdown()
