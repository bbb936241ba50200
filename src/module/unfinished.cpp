// TEMPORARY: weak placeholders so that the extension links while the module
// functions are being written; each real definition replaces its placeholder.
// This file is removed once every function exists.
#include "module/errors.h"
#include "module/methods.h"

#define PLACEHOLDER_KW(name)                                                          \
    __attribute__((weak)) PyObject* name(PyObject*, PyObject*, PyObject*) {          \
        reset_last_error();                                                           \
        return set_last_error(kStatusUnsupported, "not built yet: " #name);           \
    }
#define PLACEHOLDER(name)                                                             \
    __attribute__((weak)) PyObject* name(PyObject*, PyObject*) {                     \
        reset_last_error();                                                           \
        return set_last_error(kStatusUnsupported, "not built yet: " #name);           \
    }

PLACEHOLDER_KW(initialize)
PLACEHOLDER(shutdown)
PLACEHOLDER_KW(login)
PLACEHOLDER(version)
PLACEHOLDER(terminal_info)
PLACEHOLDER(account_info)
PLACEHOLDER(copy_ticks_from)
PLACEHOLDER(copy_ticks_range)
PLACEHOLDER(copy_rates_from)
PLACEHOLDER(copy_rates_from_pos)
PLACEHOLDER(copy_rates_range)
PLACEHOLDER(positions_total)
PLACEHOLDER_KW(positions_get)
PLACEHOLDER(orders_total)
PLACEHOLDER_KW(orders_get)
PLACEHOLDER(history_orders_total)
PLACEHOLDER_KW(history_orders_get)
PLACEHOLDER(history_deals_total)
PLACEHOLDER_KW(history_deals_get)
PLACEHOLDER_KW(order_check)
PLACEHOLDER_KW(order_send)
PLACEHOLDER(order_calc_margin)
PLACEHOLDER(order_calc_profit)
PLACEHOLDER(symbol_info)
PLACEHOLDER(symbol_info_tick)
PLACEHOLDER(symbol_select)
PLACEHOLDER(symbols_total)
PLACEHOLDER_KW(symbols_get)
PLACEHOLDER(market_book_add)
PLACEHOLDER(market_book_release)
PLACEHOLDER(market_book_get)

#include "module/records.h"
PyTypeObject* record_types[kRecordTypeCount] __attribute__((weak));
__attribute__((weak)) void register_record_types(PyObject*) {}

#include "api/bars.h"
PyObject* rates_dtype __attribute__((weak)) = nullptr;
PyObject* ticks_dtype __attribute__((weak)) = nullptr;
__attribute__((weak)) void build_market_data_types() {}
