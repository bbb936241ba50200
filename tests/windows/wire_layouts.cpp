// Compiled only for its checks: every wire record's size and field offsets
// are asserted in its header, so including them all under mingw-w64 proves
// the Windows build sends and reads the same bytes.
#include "api/wire_bars.h"
#include "api/wire_book.h"
#include "api/wire_history.h"
#include "api/wire_positions.h"
#include "api/wire_symbols.h"
#include "api/wire_terminal.h"
#include "api/wire_trade.h"
