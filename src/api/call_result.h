// The common ending of a module function whose reply was good.
#pragma once

#include <Python.h>

#include "module/errors.h"

// A result object that could not be built is reported as a failed call, with
// no Python error left behind.
inline PyObject* result_or_call_failed(PyObject* result) {
    if (result == nullptr) {
        PyErr_Clear();
        return set_last_error(kStatusCallFailed, "Terminal: Call failed");
    }
    return result;
}
