// The one positional symbol name taken by the symbol and market-depth
// functions.
#pragma once

#include <Python.h>

#include "module/args.h"

// Exactly one positional argument, a str of at most 29 UTF-16 units, into a
// buffer of kSymbolUnits. A refusal leaves no Python error pending.
inline bool parse_symbol_argument(PyObject* args, char16_t* symbol) {
    PyObject* object = nullptr;
    if (!PyArg_ParseTuple(args, "O", &object) ||
        !convert_string_argument(object, symbol, kSymbolUnits)) {
        PyErr_Clear();
        return false;
    }
    return true;
}
