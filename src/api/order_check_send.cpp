// order_check and order_send: one trade request out, one result record back,
// with the request as it was sent echoed in the result.
#include "api/call_result.h"
#include "api/trade_request.h"
#include "link/call.h"
#include "module/errors.h"
#include "module/methods.h"
#include "module/records.h"
#include "wire/commands.h"
#include "wire/trade.h"

// The request is either the one positional argument or the keywords
// themselves. Records the refusal itself.
static PyObject* choose_request(PyObject* args, PyObject* kwargs) {
    Py_ssize_t positional = PyTuple_GET_SIZE(args);
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
        if (positional > 0) {
            record_last_error(kStatusInvalidParams, "Unnamed arguments not allowed");
            return nullptr;
        }
        return kwargs;
    }
    if (positional != 1) {
        record_last_error(kStatusInvalidParams, "Invalid number of arguments");
        return nullptr;
    }
    return PyTuple_GET_ITEM(args, 0);
}

static bool prepare_request(PyObject* args, PyObject* kwargs, TradeRequestRecord* request) {
    PyObject* object = choose_request(args, kwargs);
    return object != nullptr && parse_trade_request(object, request);
}

static PyObject* check_result_object(const OrderCheckRecord& wire,
                                     const TradeRequestRecord& request) {
    RecordFiller filler = record_begin(kOrderCheckResult);
    record_put(filler, py_u32(wire.retcode));
    record_put(filler, py_f64(wire.balance));
    record_put(filler, py_f64(wire.equity));
    record_put(filler, py_f64(wire.profit));
    record_put(filler, py_f64(wire.margin));
    record_put(filler, py_f64(wire.margin_free));
    record_put(filler, py_f64(wire.margin_level));
    record_put(filler, text_field(wire.comment));
    record_put(filler, trade_request_object(request));
    return record_end(filler);
}

static PyObject* send_result_object(const OrderSendRecord& wire,
                                    const TradeRequestRecord& request) {
    RecordFiller filler = record_begin(kOrderSendResult);
    record_put(filler, py_u32(wire.retcode));
    record_put(filler, py_u64(wire.deal));
    record_put(filler, py_u64(wire.order));
    record_put(filler, py_f64(wire.volume));
    record_put(filler, py_f64(wire.price));
    record_put(filler, py_f64(wire.bid));
    record_put(filler, py_f64(wire.ask));
    record_put(filler, text_field(wire.comment));
    record_put(filler, py_u32(wire.request_id));
    record_put(filler, py_i32(wire.retcode_external));
    record_put(filler, trade_request_object(request));
    return record_end(filler);
}

PyObject* order_check(PyObject*, PyObject* args, PyObject* kwargs) {
    reset_last_error();
    TradeRequestRecord request;
    if (!prepare_request(args, kwargs, &request)) {
        Py_RETURN_NONE;
    }

    OrderCheckRecord wire;
    RequestField field = request_bytes(&request, sizeof request);
    ReplyField reply = reply_fixed(&wire, sizeof wire);
    int32_t status = client_call(kCmdOrderCheck, &field, 1, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(check_result_object(wire, request));
}

PyObject* order_send(PyObject*, PyObject* args, PyObject* kwargs) {
    reset_last_error();
    TradeRequestRecord request;
    if (!prepare_request(args, kwargs, &request)) {
        Py_RETURN_NONE;
    }

    OrderSendRecord wire;
    RequestField field = request_bytes(&request, sizeof request);
    ReplyField reply = reply_fixed(&wire, sizeof wire);
    int32_t status = client_call(kCmdOrderSend, &field, 1, &reply, 1);
    if (status == kStatusAutoTradingDisabled) {
        return set_last_error(status, "Auto-Trading using Python API disabled in Terminal");
    }
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(send_result_object(wire, request));
}
