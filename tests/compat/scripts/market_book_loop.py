# Subscribe to the depth of market and print it a few times.
import time

import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

symbol = "XAUUSD"
if mt.market_book_add(symbol):
    for i in range(5):
        items = mt.market_book_get(symbol)
        print(f"depth of {symbol}, round {i}: {len(items)} entries")
        for it in items or ():
            print("  ", it._asdict())
        assert items, mt.last_error()
        sells = [it.price for it in items if it.type == mt.BOOK_TYPE_SELL]
        buys = [it.price for it in items if it.type == mt.BOOK_TYPE_BUY]
        assert sells and buys and min(sells) > max(buys)
        time.sleep(0.3)
    mt.market_book_release(symbol)
else:
    print("mt.market_book_add({}) failed, error code =".format(symbol), mt.last_error())
    quit(1)
mt.shutdown()
