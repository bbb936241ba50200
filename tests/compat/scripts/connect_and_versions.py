# Connect to a trading account and show what we are talking to.
import quillmark as mt

print("quillmark package author:", mt.__author__)
print("quillmark package version:", mt.__version__)

if not mt.initialize(login=10001, password="demo", server="Quillmark-Demo"):
    print("initialize() failed, error code =", mt.last_error())
    quit(1)

print(mt.terminal_info())
print(mt.version())
major, build, date = mt.version()
assert build > 0 and date, mt.version()

account = mt.account_info()
if account is None:
    print("failed to read the account, error code =", mt.last_error())
    quit(1)
print(f"login {account.login} on {account.server}, balance {account.balance} {account.currency}")
for prop, value in account._asdict().items():
    print(f"  {prop}={value}")
mt.shutdown()
