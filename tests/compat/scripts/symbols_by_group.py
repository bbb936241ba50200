# List the dollar pairs without the euro and print their last ticks.
import quillmark as mt

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

print("Symbols:", mt.symbols_total())
group_symbols = mt.symbols_get(group="*USD*,!*EUR*")
print("len(*USD*, !*EUR*):", len(group_symbols))
assert group_symbols, mt.last_error()
for s in group_symbols:
    assert "USD" in s.name and "EUR" not in s.name, s.name
    tick = mt.symbol_info_tick(s.name)
    print(f"{s.name:<8} {s.description:<40} bid={tick.bid} ask={tick.ask} time={tick.time}")
    assert tick.ask >= tick.bid > 0

selected = mt.symbol_select("GBPJPY", True)
print("GBPJPY selected:", selected, mt.symbol_info("GBPJPY").visible)
mt.shutdown()
