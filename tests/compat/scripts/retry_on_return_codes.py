# Send an order again when the return code says the price moved or the
# connection hiccuped; give up on anything else.
import time

import quillmark as mt

RETRY_CODES = {mt.TRADE_RETCODE_REQUOTE, mt.TRADE_RETCODE_PRICE_CHANGED,
               mt.TRADE_RETCODE_PRICE_OFF, mt.TRADE_RETCODE_TIMEOUT,
               mt.TRADE_RETCODE_CONNECTION, mt.TRADE_RETCODE_TOO_MANY_REQUESTS}
FATAL_CODES = {mt.TRADE_RETCODE_NO_MONEY, mt.TRADE_RETCODE_MARKET_CLOSED,
               mt.TRADE_RETCODE_TRADE_DISABLED, mt.TRADE_RETCODE_INVALID_VOLUME}

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)


def send_with_retry(request, attempts=5):
    codes = []
    for attempt in range(1, attempts + 1):
        result = mt.order_send(request)
        if result is None:
            print("order_send() failed:", mt.last_error())
            return None, codes
        codes.append(result.retcode)
        print(f"attempt {attempt}: {result.retcode} {result.comment}")
        if result.retcode == mt.TRADE_RETCODE_DONE:
            return result, codes
        if result.retcode in FATAL_CODES or result.retcode not in RETRY_CODES:
            return result, codes
        time.sleep(0.2)
        tick = mt.symbol_info_tick(request["symbol"])
        request["price"] = tick.ask if request["type"] == mt.ORDER_TYPE_BUY else tick.bid
    return result, codes


symbol = "BTCUSD"
stale = mt.symbol_info_tick(symbol).ask * 0.9  # a price from long ago
result, codes = send_with_retry({
    "action": mt.TRADE_ACTION_DEAL, "symbol": symbol, "volume": 0.01,
    "type": mt.ORDER_TYPE_BUY, "price": stale, "deviation": 10,
    "type_filling": mt.ORDER_FILLING_IOC, "comment": "retry",
})
assert codes[0] == mt.TRADE_RETCODE_REQUOTE, codes
assert result.retcode == mt.TRADE_RETCODE_DONE, codes

result, codes = send_with_retry({
    "action": mt.TRADE_ACTION_DEAL, "symbol": symbol, "volume": 1e6,
    "type": mt.ORDER_TYPE_BUY, "price": mt.symbol_info_tick(symbol).ask, "deviation": 10,
    "type_filling": mt.ORDER_FILLING_IOC,
})
print("an impossible volume:", codes)
assert len(codes) == 1 and codes[0] in FATAL_CODES

assert mt.Close(symbol)
mt.shutdown()
