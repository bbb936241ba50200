// The argument rules shared by the module functions. Every refusal clears the
// Python error it may have caused: the caller records its own status and
// returns a value, and a pending error would turn that into a SystemError.
#include "module/args.h"

#include <datetime.h>

#include <cmath>
#include <cstring>

bool import_datetime_api() {
    PyDateTime_IMPORT;
    return PyDateTimeAPI != nullptr;
}

// Truncates toward zero; NaN and values beyond the signed 32-bit range give
// the smallest value, which no caller mistakes for a real time.
static int32_t seconds_from_double(double value) {
    if (std::isnan(value) || value <= -2147483649.0 || value >= 2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

static bool seconds_from_datetime(PyObject* object, int32_t* seconds) {
    // timestamp() reads a naive datetime in local time and an aware one by
    // its offset, which is what the caller means.
    PyObject* result = PyObject_CallMethod(object, "timestamp", nullptr);
    if (result == nullptr) {
        PyErr_Clear();
        return false;
    }
    double value = PyFloat_AsDouble(result);
    Py_DECREF(result);
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    *seconds = seconds_from_double(value);
    return true;
}

bool convert_time_argument(PyObject* object, int32_t* seconds) {
    if (PyLong_Check(object)) {
        long long value = PyLong_AsLongLong(object);
        if (value == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        // A time that does not fit is refused rather than sent wrapped.
        if (value < INT32_MIN || value > INT32_MAX) {
            return false;
        }
        *seconds = static_cast<int32_t>(value);
        return true;
    }
    if (PyFloat_Check(object)) {
        *seconds = seconds_from_double(PyFloat_AS_DOUBLE(object));
        return true;
    }
    if (PyDateTime_Check(object)) {
        return seconds_from_datetime(object, seconds);
    }
    return false;
}

bool convert_string_argument(PyObject* object, char16_t* buffer, size_t units) {
    if (!PyUnicode_Check(object) || units < 3) {
        return false;
    }
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(object) < 0) {
        PyErr_Clear();
        return false;
    }
#endif
    int kind = PyUnicode_KIND(object);
    const void* data = PyUnicode_DATA(object);
    Py_ssize_t length = PyUnicode_GET_LENGTH(object);

    // Measure first: a text that does not fit is refused, never cut.
    size_t needed = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        needed += PyUnicode_READ(kind, data, i) > 0xFFFF ? 2 : 1;
    }
    if (needed > units - 3) {
        return false;
    }

    std::memset(buffer, 0, units * sizeof(char16_t));
    size_t out = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        Py_UCS4 code = PyUnicode_READ(kind, data, i);
        if (code > 0xFFFF) {
            code -= 0x10000;
            buffer[out++] = static_cast<char16_t>(0xD800 + (code >> 10));
            buffer[out++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            buffer[out++] = static_cast<char16_t>(code);
        }
    }
    buffer[units - 1] = 0;
    return true;
}

bool convert_int64_argument(PyObject* object, int64_t* value) {
    if (!PyLong_Check(object)) {
        return false;
    }
    long long result = PyLong_AsLongLong(object);
    if (result == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    *value = result;
    return true;
}

bool convert_uint64_argument(PyObject* object, uint64_t* value) {
    if (!PyLong_Check(object)) {
        return false;
    }
    unsigned long long result = PyLong_AsUnsignedLongLong(object);
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    *value = result;
    return true;
}

bool convert_uint32_argument(PyObject* object, uint32_t* value) {
    uint64_t wide = 0;
    if (!convert_uint64_argument(object, &wide) || wide > UINT32_MAX) {
        return false;
    }
    *value = static_cast<uint32_t>(wide);
    return true;
}

bool convert_float_argument(PyObject* object, double* value) {
    // An int is refused on purpose: prices and volumes are given as floats.
    if (!PyFloat_Check(object)) {
        return false;
    }
    *value = PyFloat_AS_DOUBLE(object);
    return true;
}
