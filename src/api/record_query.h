// The exchanges shared by the position, order, history order and deal
// functions: a count, a counted array of records (optionally narrowed by a
// group mask) and one record by ticket. Each records its failure in the error
// state and returns the Python result or a new reference to None.
#pragma once

#include <Python.h>
#include <cstddef>
#include <cstdint>

#include "link/call.h"
#include "module/records.h"

// How one kind of wire record is sized, filtered and converted.
struct RecordKind {
    uint32_t size;
    size_t symbol_offset;
    RecordConverter convert;
};

// The u32 answer of a count command as an int.
PyObject* query_total(uint32_t command, const RequestField* request, size_t request_count);

// A tuple of all records of a counted-array reply; with a group mask (not
// null) only those whose symbol passes it.
PyObject* query_records(uint32_t command, const RequestField* request, size_t request_count,
                        const RecordKind& kind, const char16_t* group);

// A tuple of the one record with this ticket, or an empty tuple when the
// terminal answers 0 or "not found" (-4, which is not an error here).
PyObject* query_ticket(uint32_t command, uint64_t ticket, const RecordKind& kind);

// A keyword's value (borrowed), or null when it was not given.
PyObject* keyword_value(PyObject* kwargs, const char* name);

// Records -2 with `message`, dropping any Python error a conversion left.
PyObject* refuse_arguments(const char* message);
