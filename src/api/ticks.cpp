// copy_ticks_from, copy_ticks_range: tick arrays read like the bar arrays.
#include "api/bars.h"
#include "module/args.h"
#include "module/errors.h"
#include "wire/commands.h"

namespace {

// The tick commands carry their times in milliseconds; a 32-bit count of
// seconds times 1000 needs the 64-bit product.
int64_t milliseconds(int32_t seconds) {
    return static_cast<int64_t>(seconds) * 1000;
}

PyObject* ticks_call(uint32_t command, const char16_t* symbol, const void* second,
                     const void* third, uint32_t third_size, int32_t flags) {
    RequestField request[] = {
        request_text(symbol),
        request_bytes(second, 8),
        request_bytes(third, third_size),
        request_bytes(&flags, sizeof flags),
    };
    return records_array_call(command, request, 4, ticks_dtype);
}

}  // namespace

PyObject* copy_ticks_from(PyObject*, PyObject* args) {
    reset_last_error();
    PyObject* symbol_value = nullptr;
    PyObject* from_value = nullptr;
    int count = 0;
    int flags = 0;
    char16_t symbol[kSymbolUnits];
    int32_t from = 0;
    if (PyTuple_GET_SIZE(args) != 4 ||
        !PyArg_ParseTuple(args, "OOii", &symbol_value, &from_value, &count, &flags) ||
        !convert_string_argument(symbol_value, symbol, kSymbolUnits) ||
        !convert_time_argument(from_value, &from)) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    int64_t from_ms = milliseconds(from);
    int32_t count32 = count;
    return ticks_call(kCmdTicksFrom, symbol, &from_ms, &count32, 4, flags);
}

PyObject* copy_ticks_range(PyObject*, PyObject* args) {
    reset_last_error();
    PyObject* symbol_value = nullptr;
    PyObject* from_value = nullptr;
    PyObject* to_value = nullptr;
    int flags = 0;
    char16_t symbol[kSymbolUnits];
    int32_t from = 0;
    int32_t to = 0;
    if (PyTuple_GET_SIZE(args) != 4 ||
        !PyArg_ParseTuple(args, "OOOi", &symbol_value, &from_value, &to_value, &flags) ||
        !convert_string_argument(symbol_value, symbol, kSymbolUnits) ||
        !convert_time_argument(from_value, &from) || !convert_time_argument(to_value, &to)) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    int64_t from_ms = milliseconds(from);
    int64_t to_ms = milliseconds(to);
    return ticks_call(kCmdTicksRange, symbol, &from_ms, &to_ms, 8, flags);
}
