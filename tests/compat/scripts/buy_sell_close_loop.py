# Open and close a few small positions with the package's Buy, Sell and Close.
import time

import quillmark as mt
from quillmark import Buy, Close, Sell

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

for symbol in ("BTCUSD", "ETHUSD", "LTCUSD"):
    lot = mt.symbol_info(symbol).volume_min
    buy = Buy(symbol, 2 * lot)
    sell = Sell(symbol=symbol, volume=lot, comment="hedge")
    print(symbol, "buy", buy.retcode, buy.price, "sell", sell.retcode, sell.price)
    assert buy.retcode == sell.retcode == mt.TRADE_RETCODE_DONE
    assert len(mt.positions_get(symbol=symbol)) == 2
    time.sleep(0.2)
    assert Close(symbol=symbol, ticket=sell.order)
    assert [p.ticket for p in mt.positions_get(symbol=symbol)] == [buy.order]
    assert Close(symbol)
    assert mt.positions_get(symbol=symbol) == ()
    print(symbol, "closed; deals:", len(mt.history_deals_get(position=buy.order)))
mt.shutdown()
