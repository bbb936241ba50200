// Exchanges that return counts and tuples of trade records.
#include "api/record_query.h"

#include <cstdlib>

#include "api/call_result.h"
#include "module/errors.h"
#include "wire/group_filter.h"
#include "wire/history.h"
#include "wire/positions.h"

namespace {

// Room for every record fetched by ticket; the order record is the largest.
constexpr uint32_t kLargestTradeRecord = sizeof(TradeOrderRecord);
static_assert(sizeof(TradePositionRecord) <= kLargestTradeRecord, "");
static_assert(sizeof(TradeDealRecord) <= kLargestTradeRecord, "");

}  // namespace

PyObject* keyword_value(PyObject* kwargs, const char* name) {
    if (kwargs == nullptr) {
        return nullptr;
    }
    return PyDict_GetItemString(kwargs, name);
}

PyObject* refuse_arguments(const char* message) {
    PyErr_Clear();
    return set_last_error(kStatusInvalidParams, message);
}

PyObject* query_total(uint32_t command, const RequestField* request, size_t request_count) {
    uint32_t total = 0;
    ReplyField reply = reply_fixed(&total, sizeof total);
    int32_t status = client_call(command, request, request_count, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(py_u32(total));
}

PyObject* query_records(uint32_t command, const RequestField* request, size_t request_count,
                        const RecordKind& kind, const char16_t* group) {
    void* storage = nullptr;
    uint32_t count = 0;
    ReplyField reply = reply_array(&storage, &count, kind.size);
    int32_t status = client_call(command, request, request_count, &reply, 1);
    if (status < 0) {
        return set_last_error(status);  // the call has released the array
    }
    if (group != nullptr) {
        filter_by_group(group, storage, &count, kind.size, kind.symbol_offset);
    }
    PyObject* result =
        records_tuple(static_cast<const uint8_t*>(storage), count, kind.size, kind.convert);
    std::free(storage);
    return result_or_call_failed(result);
}

PyObject* query_ticket(uint32_t command, uint64_t ticket, const RecordKind& kind) {
    uint8_t record[kLargestTradeRecord];
    if (kind.size > sizeof record) {
        return set_last_error(kStatusCallFailed);
    }
    RequestField request = request_bytes(&ticket, sizeof ticket);
    ReplyField reply = reply_fixed(record, kind.size);
    int32_t status = client_call(command, &request, 1, &reply, 1);
    if (status == kStatusNotFound || status == 0) {
        return result_or_call_failed(PyTuple_New(0));
    }
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(records_tuple(record, 1, kind.size, kind.convert));
}
