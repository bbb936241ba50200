// order_calc_margin and order_calc_profit: the terminal computes, the module
// only encodes the arguments and returns the one double of the reply.
#include "api/call_result.h"
#include "link/call.h"
#include "module/args.h"
#include "module/errors.h"
#include "module/methods.h"
#include "module/records.h"
#include "wire/commands.h"

// The request of both commands: action, symbol, then the volume and the
// prices as doubles.
static PyObject* calc(uint32_t command, uint32_t action, const char16_t* symbol,
                      const double* numbers, size_t number_count) {
    RequestField request[5] = {request_bytes(&action, sizeof action), request_text(symbol)};
    for (size_t i = 0; i < number_count; i++) {
        request[2 + i] = request_bytes(&numbers[i], sizeof numbers[i]);
    }
    double result = 0.0;
    ReplyField reply = reply_fixed(&result, sizeof result);
    int32_t status = client_call(command, request, 2 + number_count, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(py_f64(result));
}

PyObject* order_calc_margin(PyObject*, PyObject* args) {
    reset_last_error();
    // "k" keeps the low bits of any int, so -1 becomes 0xFFFFFFFF below.
    unsigned long action = 0;
    PyObject* object = nullptr;
    double numbers[2] = {};
    char16_t symbol[kSymbolUnits] = {};
    if (!PyArg_ParseTuple(args, "kOdd", &action, &object, &numbers[0], &numbers[1]) ||
        !convert_string_argument(object, symbol, kSymbolUnits)) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    return calc(kCmdOrderCalcMargin, static_cast<uint32_t>(action), symbol, numbers, 2);
}

PyObject* order_calc_profit(PyObject*, PyObject* args) {
    reset_last_error();
    unsigned long action = 0;
    PyObject* object = nullptr;
    double numbers[3] = {};
    char16_t symbol[kSymbolUnits] = {};
    if (!PyArg_ParseTuple(args, "kOddd", &action, &object, &numbers[0], &numbers[1], &numbers[2]) ||
        !convert_string_argument(object, symbol, kSymbolUnits)) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    return calc(kCmdOrderCalcProfit, static_cast<uint32_t>(action), symbol, numbers, 3);
}
