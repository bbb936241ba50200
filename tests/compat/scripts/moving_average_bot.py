# A moving-average cross bot: long when the fast average is above the slow
# one, short when below; runs for 30 seconds.
import time

import pandas as pd

import quillmark as mt
from quillmark import Buy, Close, Sell

SYMBOL, VOLUME, FAST, SLOW, RUN_SECONDS = "BTCUSD", 0.01, 5, 20, 30

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)


def signal():
    ticks = pd.DataFrame(mt.copy_ticks_from(SYMBOL, int(time.time()) - 600, 500,
                                            mt.COPY_TICKS_INFO))
    bars = pd.DataFrame(mt.copy_rates_from_pos(SYMBOL, mt.TIMEFRAME_M1, 0, SLOW + 1))
    assert len(bars) == SLOW + 1 and len(ticks) > SLOW
    mid = (ticks["bid"] + ticks["ask"]) / 2
    fast = mid.rolling(FAST).mean().iloc[-1]
    slow = mid.rolling(SLOW).mean().iloc[-1]
    return "long" if fast > slow else "short"


def current_side():
    positions = mt.positions_get(symbol=SYMBOL)
    if not positions:
        return None
    return "long" if positions[0].type == mt.POSITION_TYPE_BUY else "short"


trades = 0
started = time.monotonic()
while time.monotonic() - started < RUN_SECONDS:
    wanted = signal()
    side = current_side()
    if side != wanted:
        if side is not None:
            assert Close(SYMBOL)
        result = Buy(SYMBOL, VOLUME) if wanted == "long" else Sell(SYMBOL, VOLUME)
        print(f"{time.strftime('%H:%M:%S')} go {wanted}: {result.retcode} at {result.price}")
        assert result.retcode == mt.TRADE_RETCODE_DONE, result
        trades += 1
    time.sleep(1)

if current_side() is not None:
    assert Close(SYMBOL)
print("trades:", trades, "balance:", mt.account_info().balance)
assert trades >= 1 and not mt.positions_get(symbol=SYMBOL)
mt.shutdown()
