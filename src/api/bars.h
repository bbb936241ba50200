// Bars: the NumPy record types of bars and ticks, and the record-block reader
// shared with the tick functions.
#pragma once

#include <Python.h>
#include <cstddef>
#include <cstdint>

#include "link/call.h"

// The NumPy structured types of bars and ticks (PyArray_Descr objects), built
// once at import; null when building one failed.
extern PyObject* rates_dtype;
extern PyObject* ticks_dtype;
void build_market_data_types();

// Size of one bar or tick record, on the wire and in the array.
constexpr uint32_t kMarketRecordSize = 60;

// One exchange whose reply is a block of 60-byte records, read in one piece
// into storage from NumPy's data allocator. Returns the call's status; when it
// is not negative the caller owns *storage (null for a count of 0).
int32_t read_record_block(uint32_t command, const RequestField* request, size_t request_count,
                          void** storage, uint32_t* count);

// A new read-only 1-D array of `type` over the storage, which it takes over;
// null (storage untouched) when the type is absent or the array cannot be made.
PyObject* wrap_records_array(void* storage, uint32_t count, PyObject* type);

// The whole road of a bar or tick function after its arguments: the exchange,
// then the array; failures are recorded and give None.
PyObject* records_array_call(uint32_t command, const RequestField* request, size_t request_count,
                             PyObject* type);
