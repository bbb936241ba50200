# A moving-average cross bot: long when the fast average is above the slow
# one, short when below. It runs for 30 seconds of the terminal's time, or as
# many as its argument (or MA_BOT_SECONDS) says, and takes "now" from the
# terminal's ticks, so that it trades a replay of history the way it trades
# live: python moving_average_bot.py 2592000 covers a month.
import os
import sys
import time
from datetime import datetime, timezone

import pandas as pd

import quillmark as mt
from quillmark import Buy, Close, Sell

SYMBOL, VOLUME, FAST, SLOW = "BTCUSD", 0.01, 5, 20
RUN_SECONDS = int(sys.argv[1] if len(sys.argv) > 1 else os.environ.get("MA_BOT_SECONDS", 30))
# A replay's clock stands still at its end; a minute of that ends the run.
STILL_POLLS = 60

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)


def terminal_now():
    return mt.symbol_info_tick(SYMBOL).time


def signal(now):
    ticks = pd.DataFrame(mt.copy_ticks_from(SYMBOL, now - 600, 500, mt.COPY_TICKS_INFO))
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
started = now = last = terminal_now()
still = 0
while now - started < RUN_SECONDS and still < STILL_POLLS:
    wanted = signal(now)
    side = current_side()
    if side != wanted:
        if side is not None:
            assert Close(SYMBOL)
        result = Buy(SYMBOL, VOLUME) if wanted == "long" else Sell(SYMBOL, VOLUME)
        stamp = datetime.fromtimestamp(now, timezone.utc).strftime("%Y-%m-%d %H:%M:%S")
        print(f"{stamp} go {wanted}: {result.retcode} at {result.price}")
        assert result.retcode == mt.TRADE_RETCODE_DONE, result
        trades += 1
    time.sleep(1)
    last, now = now, terminal_now()
    still = still + 1 if now == last else 0

if current_side() is not None:
    assert Close(SYMBOL)
print("trades:", trades, "balance:", mt.account_info().balance)
assert trades >= 1 and not mt.positions_get(symbol=SYMBOL)
mt.shutdown()
