// Bars: the NumPy record types of bars and ticks, and the record-block call
// shared with the tick functions.
#pragma once

#include <Python.h>
#include <cstddef>
#include <cstdint>

#include "link/call.h"
#include "module/methods.h"

// Size of one bar or tick record, on the wire and in the array.
constexpr uint32_t kMarketRecordSize = 60;

// The whole road of a bar or tick function after its arguments: one exchange
// whose reply, a block of 60-byte records, is read in one piece into storage
// from NumPy's data allocator, then a read-only array over that storage;
// failures are recorded and give None.
PyObject* records_array_call(uint32_t command, const RequestField* request, size_t request_count,
                             PyObject* type);
