// Bars: the 60-byte bar record, the NumPy record types of bars and ticks, and
// the record-block reader shared with the tick functions.
#pragma once

#include <Python.h>

// The NumPy structured types of bars and ticks (PyArray_Descr objects), built
// once at import; null when building one failed.
extern PyObject* rates_dtype;
extern PyObject* ticks_dtype;
void build_market_data_types();
