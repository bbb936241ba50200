// Shared argument rules: every conversion of a call happens before anything is
// written to the pipe. A refusal never leaves a Python error pending.
#pragma once

#include <Python.h>
#include <cstddef>
#include <cstdint>

// Text buffer sizes in UTF-16 units; the longest accepted text is the size
// minus 3.
enum : size_t {
    kSymbolUnits = 32,
    kCommentUnits = 32,
    kGroupUnits = 2000,
    kServerUnits = 256,
    kPasswordUnits = 256,
    kPathUnits = 260,
};

// Imports the datetime C API used to recognise datetime.datetime; called once
// at import. On failure a Python error is pending.
bool import_datetime_api();

// int, float or datetime.datetime to signed 32-bit seconds.
bool convert_time_argument(PyObject* object, int32_t* seconds);
// str to a NUL-terminated UTF-16 buffer of `units` code units; refuses texts
// longer than units - 3. The buffer is zero-filled first.
bool convert_string_argument(PyObject* object, char16_t* buffer, size_t units);
bool convert_int64_argument(PyObject* object, int64_t* value);
bool convert_uint64_argument(PyObject* object, uint64_t* value);
bool convert_uint32_argument(PyObject* object, uint32_t* value);
bool convert_float_argument(PyObject* object, double* value);
