# An account report from the deal history: profit, swap and commission by symbol.
from datetime import datetime, timedelta, timezone

import pandas as pd

import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

from_date = datetime(2015, 1, 1, tzinfo=timezone.utc)
to_date = datetime.now(timezone.utc) + timedelta(days=1)
deals = mt.history_deals_get(from_date, to_date)
if deals is None:
    print("No deals, error code={}".format(mt.last_error()))
    quit(1)
print("history_deals_get({}, {}) = {} deals".format(from_date, to_date, len(deals)))
assert mt.history_deals_total(from_date, to_date) == len(deals)

df = pd.DataFrame(list(deals), columns=deals[0]._asdict().keys())
df["time"] = pd.to_datetime(df["time"], unit="s")
print(df[["ticket", "time", "symbol", "type", "entry", "volume", "price", "commission",
          "swap", "profit"]])

trades = df[df["type"].isin([mt.DEAL_TYPE_BUY, mt.DEAL_TYPE_SELL])]
report = trades.groupby("symbol")[["profit", "swap", "commission"]].sum()
report["net"] = report.sum(axis=1)
print(report)

# The balance is every deposit and every trade's profit, swap and commission.
balance = mt.account_info().balance
total = (df["profit"] + df["swap"] + df["commission"] + df["fee"]).sum()
print(f"balance {balance:.2f}, deals add up to {total:.2f}")
assert abs(balance - total) < 0.01
deposits = df[df["type"] == mt.DEAL_TYPE_BALANCE]["profit"].sum()
assert abs(report["net"].sum() + deposits - balance) < 0.01
mt.shutdown()
