// Wire fields to Python values, and records filled from them.
#include "module/records.h"

#include <cmath>

PyObject* py_flag(uint8_t value) {
    return PyBool_FromLong(value != 0);
}

PyObject* py_u32(uint32_t value) {
    return PyLong_FromUnsignedLong(value);
}

PyObject* py_i32(int32_t value) {
    return PyLong_FromLong(value);
}

PyObject* py_u64(uint64_t value) {
    return PyLong_FromUnsignedLongLong(value);
}

PyObject* py_i64(int64_t value) {
    return PyLong_FromLongLong(value);
}

PyObject* py_f64(double value) {
    // Records are full of unused prices and figures; one shared 0.0 spares
    // an allocation (and a later free) for each of them. Floats are
    // immutable, so sharing one is invisible to the caller.
    static PyObject* zero = nullptr;
    if (value == 0.0 && !std::signbit(value)) {
        if (zero == nullptr) {
            zero = PyFloat_FromDouble(0.0);  // kept for the life of the process
        }
        Py_XINCREF(zero);
        return zero;
    }
    return PyFloat_FromDouble(value);
}

PyObject* py_text(const uint8_t* bytes, size_t units) {
    size_t length = 0;
    while (length < units && (bytes[2 * length] | bytes[2 * length + 1]) != 0) {
        ++length;
    }
    // Most texts are ASCII: copied straight into a compact string, without
    // the general decoder.
    unsigned high = 0;
    for (size_t i = 0; i < length; ++i) {
        high |= bytes[2 * i] | (bytes[2 * i + 1] << 8);
    }
    if (high < 0x80) {
        PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(length), 0x7F);
        if (text != nullptr) {
            Py_UCS1* to = PyUnicode_1BYTE_DATA(text);
            for (size_t i = 0; i < length; ++i) {
                to[i] = bytes[2 * i];
            }
        }
        return text;
    }
    // Little-endian by the wire's rules; "surrogatepass" keeps a lone
    // surrogate as its own code point instead of failing the whole record.
    int byte_order = -1;
    return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(bytes),
                                 static_cast<Py_ssize_t>(2 * length), "surrogatepass", &byte_order);
}

RecordFiller record_begin(RecordType type) {
    RecordFiller filler = {nullptr, 0, true};
    if (type < 0 || type >= kRecordTypeCount || record_types[type] == nullptr) {
        return filler;
    }
    filler.record = PyStructSequence_New(record_types[type]);
    filler.failed = filler.record == nullptr;
    return filler;
}

void record_put(RecordFiller& filler, PyObject* value) {
    if (value == nullptr || filler.failed || filler.index >= PyTuple_GET_SIZE(filler.record)) {
        Py_XDECREF(value);
        filler.failed = true;
        return;
    }
    PyStructSequence_SetItem(filler.record, filler.index, value);
    ++filler.index;
}

PyObject* record_end(RecordFiller& filler) {
    // A record with an empty slot would crash whoever reads it, so a record
    // is either complete or not made at all.
    if (filler.failed || filler.index != PyTuple_GET_SIZE(filler.record)) {
        Py_XDECREF(filler.record);
        filler.record = nullptr;
        filler.failed = true;
        PyErr_Clear();
        return nullptr;
    }
    PyObject* record = filler.record;
    filler.record = nullptr;
    return record;
}

PyObject* records_tuple(const uint8_t* wire, uint32_t count, size_t size, RecordConverter convert) {
    PyObject* tuple = PyTuple_New(count);
    if (tuple == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i) {
        PyObject* record = convert(wire + static_cast<size_t>(i) * size);
        if (record == nullptr) {
            Py_DECREF(tuple);
            PyErr_Clear();
            return nullptr;
        }
        PyTuple_SET_ITEM(tuple, i, record);
    }
    return tuple;
}
