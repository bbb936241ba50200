# Bars and ticks into pandas DataFrames.
from datetime import datetime, timedelta, timezone

import pandas as pd

import quillmark as mt

pd.set_option("display.max_columns", 500)
pd.set_option("display.width", 1500)

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

utc_from = datetime.now(timezone.utc) - timedelta(days=3)
rates = mt.copy_rates_from("EURUSD", mt.TIMEFRAME_M5, utc_from, 300)
print("bars received:", len(rates))
rates_frame = pd.DataFrame(rates)
rates_frame["time"] = pd.to_datetime(rates_frame["time"], unit="s")
print(rates_frame.head(10))
assert len(rates_frame) == 300
assert (rates_frame["high"] >= rates_frame[["open", "close"]].max(axis=1)).all()
assert rates_frame["time"].is_monotonic_increasing

h4 = pd.DataFrame(mt.copy_rates_from_pos("GBPUSD", mt.TIMEFRAME_H4, 0, 50))
h4["time"] = pd.to_datetime(h4["time"], unit="s")
print(h4.tail())
assert len(h4) == 50

ticks = mt.copy_ticks_from("BTCUSD", datetime.now(timezone.utc) - timedelta(hours=1), 1000,
                           mt.COPY_TICKS_ALL)
ticks_frame = pd.DataFrame(ticks)
ticks_frame["time"] = pd.to_datetime(ticks_frame["time"], unit="s")
ticks_frame["time_msc"] = pd.to_datetime(ticks_frame["time_msc"], unit="ms")
print(ticks_frame.head(10))
assert len(ticks_frame) > 0 and (ticks_frame["ask"] >= ticks_frame["bid"]).all()

day = datetime.now(timezone.utc) - timedelta(days=2)
info_ticks = mt.copy_ticks_range("EURUSD", day, day + timedelta(minutes=30), mt.COPY_TICKS_INFO)
print("EURUSD info ticks in half an hour:", len(info_ticks), mt.last_error())
assert info_ticks is not None
mt.shutdown()
