// The 32 module functions, defined in connection.cpp and errors.cpp here
// and in src/api/, which the module's frame lists but does not include.
#pragma once

#include <Python.h>

PyObject* initialize(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* shutdown(PyObject* self, PyObject* unused);
PyObject* login(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* version(PyObject* self, PyObject* unused);
PyObject* terminal_info(PyObject* self, PyObject* unused);
PyObject* account_info(PyObject* self, PyObject* unused);
PyObject* copy_ticks_from(PyObject* self, PyObject* args);
PyObject* copy_ticks_range(PyObject* self, PyObject* args);
PyObject* copy_rates_from(PyObject* self, PyObject* args);
PyObject* copy_rates_from_pos(PyObject* self, PyObject* args);
PyObject* copy_rates_range(PyObject* self, PyObject* args);
PyObject* positions_total(PyObject* self, PyObject* unused);
PyObject* positions_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* orders_total(PyObject* self, PyObject* unused);
PyObject* orders_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* history_orders_total(PyObject* self, PyObject* args);
PyObject* history_orders_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* history_deals_total(PyObject* self, PyObject* args);
PyObject* history_deals_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* order_check(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* order_send(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* order_calc_margin(PyObject* self, PyObject* args);
PyObject* order_calc_profit(PyObject* self, PyObject* args);
PyObject* symbol_info(PyObject* self, PyObject* args);
PyObject* symbol_info_tick(PyObject* self, PyObject* args);
PyObject* symbol_select(PyObject* self, PyObject* args);
PyObject* symbols_total(PyObject* self, PyObject* unused);
PyObject* symbols_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* market_book_add(PyObject* self, PyObject* args);
PyObject* market_book_release(PyObject* self, PyObject* args);
PyObject* market_book_get(PyObject* self, PyObject* args);
// last_error is declared in errors.h.

// The NumPy structured types of bars and ticks (PyArray_Descr objects), built
// once at import by the bar functions; null when building one failed.
extern PyObject* rates_dtype;
extern PyObject* ticks_dtype;
void build_market_data_types();
