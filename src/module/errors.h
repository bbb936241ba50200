// The process-wide error state behind last_error().
#pragma once

#include <Python.h>
#include <cstdint>

#include "wire/status.h"

// Code 1, "Success": the first step of every module function but last_error.
void reset_last_error();

// Stores code and message (the status table's text when message is null),
// cutting the message to 2047 bytes. Returns nothing.
void record_last_error(int32_t code, const char* message = nullptr);

// The same, returning a new reference to None or to False so that a module
// function can end with `return set_last_error(...)`.
PyObject* set_last_error(int32_t code, const char* message = nullptr);
PyObject* set_last_error_false(int32_t code, const char* message = nullptr);

// The text of the status table for a code.
const char* status_text(int32_t code);

// last_error(): the (code, message) pair.
PyObject* last_error(PyObject* self, PyObject* unused);
