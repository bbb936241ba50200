// Compiled only for its checks: every wire record's size and field offsets
// are asserted in its header, so including them all under mingw-w64 proves
// the Windows build sends and reads the same bytes.
#include "wire/bars.h"
#include "wire/market_book.h"
#include "wire/history.h"
#include "wire/positions.h"
#include "wire/symbols.h"
#include "wire/terminal.h"
#include "wire/trade.h"
