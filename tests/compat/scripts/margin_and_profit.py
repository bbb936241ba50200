# Margin and profit of one lot, for every symbol of a list.
import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

account_currency = mt.account_info().currency
print("Account currency:", account_currency)

symbols = ("EURUSD", "GBPUSD", "USDJPY", "USDCHF", "EURJPY", "GBPJPY", "XAUUSD", "BTCUSD")
lot = 1.0
distance = 300
print("Margin and profit of {} lot(s) over {} points in {}:".format(lot, distance, account_currency))
for symbol in symbols:
    symbol_info = mt.symbol_info(symbol)
    if symbol_info is None:
        print(symbol, "not found, skipped")
        continue
    point = symbol_info.point
    ask = mt.symbol_info_tick(symbol).ask
    bid = mt.symbol_info_tick(symbol).bid
    buy_margin = mt.order_calc_margin(mt.ORDER_TYPE_BUY, symbol, lot, ask)
    sell_margin = mt.order_calc_margin(mt.ORDER_TYPE_SELL, symbol, lot, bid)
    buy_profit = mt.order_calc_profit(mt.ORDER_TYPE_BUY, symbol, lot, ask, ask + distance * point)
    sell_profit = mt.order_calc_profit(mt.ORDER_TYPE_SELL, symbol, lot, bid, bid - distance * point)
    print("   {:<8} buy margin {:>12.2f}  sell margin {:>12.2f}  buy profit {:>10.2f}  "
          "sell profit {:>10.2f}".format(symbol, buy_margin, sell_margin, buy_profit, sell_profit))
    assert buy_margin > 0 and sell_margin > 0, mt.last_error()
    assert buy_profit > 0 and sell_profit > 0
    loss = mt.order_calc_profit(mt.ORDER_TYPE_BUY, symbol, lot, ask, ask - distance * point)
    # Quote-currency profits convert at the closing price, so the two differ a little.
    assert loss < 0 and abs(loss + buy_profit) < 0.01 * buy_profit, (symbol, loss, buy_profit)
mt.shutdown()
