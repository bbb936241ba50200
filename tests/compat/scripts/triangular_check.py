# Triangular arbitrage watch: a cross should trade where its two legs put it.
import time

import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

# cross, first leg, second leg, and how the legs make the cross
TRIANGLES = [
    ("EURGBP", "EURUSD", "GBPUSD", "divide"),
    ("EURJPY", "EURUSD", "USDJPY", "multiply"),
    ("GBPJPY", "GBPUSD", "USDJPY", "multiply"),
]


def implied(first, second, how):
    if how == "divide":
        return first.bid / second.ask, first.ask / second.bid
    return first.bid * second.bid, first.ask * second.ask


def ticks(*symbols):
    """The symbols' ticks of one moment: read again while any of them moves."""
    while True:
        first = [mt.symbol_info_tick(s) for s in symbols]
        again = [mt.symbol_info_tick(s) for s in symbols]
        if [t.time_msc for t in first] == [t.time_msc for t in again]:
            return first


opportunities = 0
samples = 0
started = time.monotonic()
while time.monotonic() - started < 5:
    for cross, leg1, leg2, how in TRIANGLES:
        c, a, b = ticks(cross, leg1, leg2)
        low, high = implied(a, b, how)
        samples += 1
        # Buy the cross and sell it back through the legs, or the other way.
        gap = max(low - c.ask, c.bid - high)
        point = mt.symbol_info(cross).point
        print(f"{cross}: {c.bid:.5f}/{c.ask:.5f}, via {leg1} and {leg2} "
              f"{low:.5f}/{high:.5f}, gap {gap / point:+.1f} points")
        if gap > 0:
            opportunities += 1
    time.sleep(0.5)

print(f"{opportunities} arbitrage opportunities in {samples} samples")
assert opportunities == 0
mt.shutdown()
