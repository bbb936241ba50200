# Open a market buy with stop loss and take profit, then close it with the
# opposite deal on the same position.
import time

import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

symbol = "BTCUSD"
symbol_info = mt.symbol_info(symbol)
if symbol_info is None:
    print(symbol, "not found, can not call order_check()")
    mt.shutdown()
    quit(1)
if not symbol_info.visible:
    print(symbol, "is not visible, trying to switch on")
    if not mt.symbol_select(symbol, True):
        print("symbol_select({}) failed, exit".format(symbol))
        mt.shutdown()
        quit(1)

lot = 0.1
point = mt.symbol_info(symbol).point
price = mt.symbol_info_tick(symbol).ask
deviation = 20
request = {
    "action": mt.TRADE_ACTION_DEAL,
    "symbol": symbol,
    "volume": lot,
    "type": mt.ORDER_TYPE_BUY,
    "price": price,
    "sl": price - 10000 * point,
    "tp": price + 10000 * point,
    "deviation": deviation,
    "magic": 234000,
    "comment": "python script open",
    "type_time": mt.ORDER_TIME_GTC,
    "type_filling": mt.ORDER_FILLING_IOC,
}
result = mt.order_send(request)
print("1. order_send(): by {} {} lots at {} with deviation={} points".format(
    symbol, lot, price, deviation))
if result.retcode != mt.TRADE_RETCODE_DONE:
    print("2. order_send failed, retcode={}".format(result.retcode))
    result_dict = result._asdict()
    for field in result_dict.keys():
        print("   {}={}".format(field, result_dict[field]))
    mt.shutdown()
    quit(1)

print("2. order_send done, ", result)
print("   opened position with POSITION_TICKET={}".format(result.order))
position = mt.positions_get(ticket=result.order)[0]
assert abs(position.sl - (price - 10000 * point)) < point * 2, position
time.sleep(1)

position_id = result.order
price = mt.symbol_info_tick(symbol).bid
request = {
    "action": mt.TRADE_ACTION_DEAL,
    "symbol": symbol,
    "volume": lot,
    "type": mt.ORDER_TYPE_SELL,
    "position": position_id,
    "price": price,
    "deviation": deviation,
    "magic": 234000,
    "comment": "python script close",
    "type_time": mt.ORDER_TIME_GTC,
    "type_filling": mt.ORDER_FILLING_IOC,
}
result = mt.order_send(request)
print("3. close position #{}: sell {} {} lots at {}".format(position_id, symbol, lot, price))
if result.retcode != mt.TRADE_RETCODE_DONE:
    print("4. order_send failed, retcode={}".format(result.retcode))
    quit(1)
print("4. position #{} closed, {}".format(position_id, result))
assert not mt.positions_get(ticket=position_id)
entries = [d.entry for d in mt.history_deals_get(position=position_id)]
assert entries == [mt.DEAL_ENTRY_IN, mt.DEAL_ENTRY_OUT], entries
mt.shutdown()
