# Daily and hourly bars of 2020 for a back test.
from datetime import datetime, timezone

import pandas as pd

import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

utc_from = datetime(2020, 1, 1, tzinfo=timezone.utc)
utc_to = datetime(2021, 1, 1, tzinfo=timezone.utc)
rates = mt.copy_rates_range("EURUSD", mt.TIMEFRAME_D1, utc_from, utc_to)
print("EURUSD D1 bars of 2020:", None if rates is None else len(rates), mt.last_error())
df = pd.DataFrame(rates)
assert len(df) > 250, "expected a year of daily bars"
df["time"] = pd.to_datetime(df["time"], unit="s")
print(df.head())
print(df.tail())
assert df["time"].iloc[0] < pd.Timestamp(2020, 1, 8)
assert df["time"].iloc[-1] >= pd.Timestamp(2020, 12, 24)
assert df["close"].between(0.9, 1.4).all(), df["close"].describe()

hours = mt.copy_rates_from("GBPUSD", mt.TIMEFRAME_H1, datetime(2020, 3, 16, tzinfo=timezone.utc),
                           500)
print("GBPUSD H1 bars up to 2020-03-16:", None if hours is None else len(hours))
hours_frame = pd.DataFrame(hours)
hours_frame["time"] = pd.to_datetime(hours_frame["time"], unit="s")
print(hours_frame.tail())
assert len(hours_frame) == 500
assert hours_frame["time"].iloc[-1] <= pd.Timestamp(2020, 3, 16)
mt.shutdown()
