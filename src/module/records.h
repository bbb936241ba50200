// The eleven record types (struct sequences) and the wire-to-Python helpers.
#pragma once

#include <Python.h>
#include <cstddef>
#include <cstdint>

enum RecordType {
    kTradePosition,
    kTradeOrder,
    kTradeDeal,
    kTradeRequest,
    kOrderSendResult,
    kOrderCheckResult,
    kTick,
    kTerminalInfo,
    kSymbolInfo,
    kAccountInfo,
    kBookInfo,
    kRecordTypeCount
};

// Filled by register_record_types; an entry stays null when its type could
// not be made.
extern PyTypeObject* record_types[kRecordTypeCount];

// Creates the types and adds them to the module; never fails as a whole.
void register_record_types(PyObject* module);

// New Python values from wire fields; each returns a new reference or null.
PyObject* py_flag(uint8_t value);
PyObject* py_u32(uint32_t value);
PyObject* py_i32(int32_t value);
PyObject* py_u64(uint64_t value);
PyObject* py_i64(int64_t value);
PyObject* py_f64(double value);
// A fixed UTF-16LE text field of `units` code units at `bytes` (any
// alignment): the text before the first NUL, never beyond the field.
PyObject* py_text(const uint8_t* bytes, size_t units);
// The same for a wire record's whole text field.
template <size_t Bytes>
PyObject* text_field(const uint8_t (&field)[Bytes]) {
    return py_text(field, Bytes / 2);
}

// Fills a new record field by field, in order. A value that could not be made
// (null) marks the whole record as failed.
struct RecordFiller {
    PyObject* record;
    Py_ssize_t index;
    bool failed;
};

RecordFiller record_begin(RecordType type);
void record_put(RecordFiller& filler, PyObject* value);  // steals value
// The finished record, or null (and nothing leaked) if any step failed.
PyObject* record_end(RecordFiller& filler);

// A tuple of `count` records converted from `count` wire records of `size`
// bytes each, or null on any failure.
typedef PyObject* (*RecordConverter)(const uint8_t* wire);
PyObject* records_tuple(const uint8_t* wire, uint32_t count, size_t size, RecordConverter convert);
