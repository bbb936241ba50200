// copy_rates_from, copy_rates_from_pos, copy_rates_range, the record types of
// bars and ticks, and the hand-over of received records to an array.
#define NO_IMPORT_ARRAY
#include "module/module.h"
#include <numpy/arrayobject.h>

#include "api/bars.h"
#include "module/args.h"
#include "module/errors.h"
#include "wire/bars.h"
#include "wire/commands.h"
#include "wire/symbols.h"

PyObject* rates_dtype = nullptr;
PyObject* ticks_dtype = nullptr;

namespace {

static_assert(sizeof(RateRecord) == kMarketRecordSize, "bar record");
static_assert(sizeof(TickRecord) == kMarketRecordSize, "tick record");

struct FieldSpec {
    const char* name;
    int type_number;
    long offset;
};

const FieldSpec kRateFields[] = {
    {"time", NPY_LONGLONG, offsetof(RateRecord, time)},
    {"open", NPY_DOUBLE, offsetof(RateRecord, open)},
    {"high", NPY_DOUBLE, offsetof(RateRecord, high)},
    {"low", NPY_DOUBLE, offsetof(RateRecord, low)},
    {"close", NPY_DOUBLE, offsetof(RateRecord, close)},
    {"tick_volume", NPY_ULONGLONG, offsetof(RateRecord, tick_volume)},
    {"spread", NPY_INT, offsetof(RateRecord, spread)},
    {"real_volume", NPY_ULONGLONG, offsetof(RateRecord, real_volume)},
};

const FieldSpec kTickFields[] = {
    {"time", NPY_LONGLONG, offsetof(TickRecord, time)},
    {"bid", NPY_DOUBLE, offsetof(TickRecord, bid)},
    {"ask", NPY_DOUBLE, offsetof(TickRecord, ask)},
    {"last", NPY_DOUBLE, offsetof(TickRecord, last)},
    {"volume", NPY_ULONGLONG, offsetof(TickRecord, volume)},
    {"time_msc", NPY_LONGLONG, offsetof(TickRecord, time_msc)},
    {"flags", NPY_UINT, offsetof(TickRecord, flags)},
    {"volume_real", NPY_DOUBLE, offsetof(TickRecord, volume_real)},
};

constexpr Py_ssize_t kFieldCount = 8;
static_assert(sizeof kRateFields / sizeof kRateFields[0] == kFieldCount, "");
static_assert(sizeof kTickFields / sizeof kTickFields[0] == kFieldCount, "");

// The unaligned 8-byte field at offset 52 is why the records cannot take a
// NumPy-aligned layout: the type is described by explicit offsets through
// NumPy's public dictionary form, which gives the same descriptor under every
// NumPy version.
PyObject* build_record_type(const FieldSpec* fields) {
    PyObject* names = PyList_New(kFieldCount);
    PyObject* formats = PyList_New(kFieldCount);
    PyObject* offsets = PyList_New(kFieldCount);
    PyObject* spec = PyDict_New();
    PyObject* itemsize = PyLong_FromLong(kMarketRecordSize);
    PyArray_Descr* descr = nullptr;
    bool built = names != nullptr && formats != nullptr && offsets != nullptr && spec != nullptr &&
                 itemsize != nullptr;
    for (Py_ssize_t i = 0; built && i < kFieldCount; ++i) {
        PyObject* name = PyUnicode_FromString(fields[i].name);
        PyObject* format =
            reinterpret_cast<PyObject*>(PyArray_DescrFromType(fields[i].type_number));
        PyObject* offset = PyLong_FromLong(fields[i].offset);
        built = name != nullptr && format != nullptr && offset != nullptr;
        if (built) {
            PyList_SET_ITEM(names, i, name);
            PyList_SET_ITEM(formats, i, format);
            PyList_SET_ITEM(offsets, i, offset);
        } else {
            Py_XDECREF(name);
            Py_XDECREF(format);
            Py_XDECREF(offset);
        }
    }
    built = built && PyDict_SetItemString(spec, "names", names) == 0 &&
            PyDict_SetItemString(spec, "formats", formats) == 0 &&
            PyDict_SetItemString(spec, "offsets", offsets) == 0 &&
            PyDict_SetItemString(spec, "itemsize", itemsize) == 0 &&
            PyArray_DescrConverter(spec, &descr) == NPY_SUCCEED;
    Py_XDECREF(names);
    Py_XDECREF(formats);
    Py_XDECREF(offsets);
    Py_XDECREF(spec);
    Py_XDECREF(itemsize);
    if (!built) {
        Py_XDECREF(descr);
        PyErr_Clear();
        return nullptr;
    }
    return reinterpret_cast<PyObject*>(descr);
}

void* allocate_array_data(size_t bytes) {
    return PyDataMem_NEW(bytes);
}

void release_array_data(void* storage) {
    PyDataMem_FREE(storage);
}

PyObject* rates_call(uint32_t command, const char16_t* symbol, int32_t timeframe, const void* third,
                     uint32_t third_size, const void* fourth, uint32_t fourth_size) {
    RequestField request[] = {
        request_text(symbol),
        request_bytes(&timeframe, sizeof timeframe),
        request_bytes(third, third_size),
        request_bytes(fourth, fourth_size),
    };
    return records_array_call(command, request, 4, rates_dtype);
}

// A new read-only 1-D array of `type` over the storage, which it takes over;
// null (storage untouched) when the type is absent or the array cannot be made.
PyObject* wrap_records_array(void* storage, uint32_t count, PyObject* type) {
    if (type == nullptr) {
        return nullptr;
    }
    npy_intp dimensions[1] = {static_cast<npy_intp>(count)};
    npy_intp strides[1] = {kMarketRecordSize};
    // Array creation steals a reference to the type; the module keeps its own.
    Py_INCREF(type);
    // Without NPY_ARRAY_WRITEABLE among the flags the array is read-only.
    PyObject* array =
        PyArray_NewFromDescr(&PyArray_Type, reinterpret_cast<PyArray_Descr*>(type), 1, dimensions,
                             strides, storage, NPY_ARRAY_OWNDATA, nullptr);
    if (array == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    PyArrayObject* result = reinterpret_cast<PyArrayObject*>(array);
    // NumPy never takes ownership of given data by itself; it frees the
    // storage with the array only once told so. An empty reply brings no
    // storage: NumPy then allocates for itself and makes the array writeable.
    PyArray_ENABLEFLAGS(result, NPY_ARRAY_OWNDATA);
    PyArray_CLEARFLAGS(result, NPY_ARRAY_WRITEABLE);
    return array;
}

}  // namespace

void build_market_data_types() {
    rates_dtype = build_record_type(kRateFields);
    ticks_dtype = build_record_type(kTickFields);
}

PyObject* records_array_call(uint32_t command, const RequestField* request, size_t request_count,
                             PyObject* type) {
    void* storage = nullptr;
    uint32_t count = 0;
    ReplyField reply = reply_array_with(&storage, &count, kMarketRecordSize, allocate_array_data,
                                        release_array_data);
    int32_t status = client_call(command, request, request_count, &reply, 1);
    if (status < 0) {
        return set_last_error(status);  // the call has released the storage
    }
    PyObject* array = wrap_records_array(storage, count, type);
    if (array == nullptr) {
        release_array_data(storage);
        return set_last_error(kStatusNoMemory, "No memory");
    }
    return array;
}

PyObject* copy_rates_from(PyObject*, PyObject* args) {
    reset_last_error();
    PyObject* symbol_value = nullptr;
    int timeframe = 0;
    PyObject* from_value = nullptr;
    int count = 0;
    char16_t symbol[kSymbolUnits];
    int32_t from = 0;
    if (PyTuple_GET_SIZE(args) != 4 ||
        !PyArg_ParseTuple(args, "OiOi", &symbol_value, &timeframe, &from_value, &count) ||
        !convert_string_argument(symbol_value, symbol, kSymbolUnits) ||
        !convert_time_argument(from_value, &from)) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    int64_t from_seconds = from;
    int32_t count32 = count;
    return rates_call(kCmdRatesFrom, symbol, timeframe, &from_seconds, 8, &count32, 4);
}

PyObject* copy_rates_from_pos(PyObject*, PyObject* args) {
    reset_last_error();
    PyObject* symbol_value = nullptr;
    int timeframe = 0;
    int start = 0;
    int count = 0;
    char16_t symbol[kSymbolUnits];
    if (PyTuple_GET_SIZE(args) != 4 ||
        !PyArg_ParseTuple(args, "Oiii", &symbol_value, &timeframe, &start, &count) ||
        !convert_string_argument(symbol_value, symbol, kSymbolUnits)) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    int32_t start32 = start;
    int32_t count32 = count;
    return rates_call(kCmdRatesFromPos, symbol, timeframe, &start32, 4, &count32, 4);
}

PyObject* copy_rates_range(PyObject*, PyObject* args) {
    reset_last_error();
    PyObject* symbol_value = nullptr;
    int timeframe = 0;
    PyObject* from_value = nullptr;
    PyObject* to_value = nullptr;
    char16_t symbol[kSymbolUnits];
    int32_t from = 0;
    int32_t to = 0;
    if (PyTuple_GET_SIZE(args) != 4 ||
        !PyArg_ParseTuple(args, "OiOO", &symbol_value, &timeframe, &from_value, &to_value) ||
        !convert_string_argument(symbol_value, symbol, kSymbolUnits) ||
        !convert_time_argument(from_value, &from) || !convert_time_argument(to_value, &to)) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    int64_t from_seconds = from;
    int64_t to_seconds = to;
    return rates_call(kCmdRatesRange, symbol, timeframe, &from_seconds, 8, &to_seconds, 8);
}
