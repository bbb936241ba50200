// Depth of market: open, close and read the book of one symbol.
#include "api/record_query.h"
#include "api/symbol_argument.h"
#include "link/call.h"
#include "module/errors.h"
#include "module/methods.h"
#include "module/records.h"
#include "wire/commands.h"
#include "wire/market_book.h"

static PyObject* book_info_object(const uint8_t* bytes) {
    const BookInfoRecord& wire = *reinterpret_cast<const BookInfoRecord*>(bytes);
    RecordFiller filler = record_begin(kBookInfo);
    record_put(filler, py_u32(wire.type));
    record_put(filler, py_f64(wire.price));
    record_put(filler, py_u64(wire.volume));
    record_put(filler, py_f64(wire.volume_dbl));
    return record_end(filler);
}

// Opening and closing report a failed call only through their False result:
// the error state keeps the "Success" of the start of the call.
static PyObject* book_switch(uint32_t command, PyObject* args) {
    reset_last_error();
    char16_t symbol[kSymbolUnits] = {};
    if (!parse_symbol_argument(args, symbol)) {
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }
    RequestField request = request_text(symbol);
    if (client_call(command, &request, 1, nullptr, 0) < 0) {
        Py_RETURN_FALSE;
    }
    Py_RETURN_TRUE;
}

PyObject* market_book_add(PyObject*, PyObject* args) {
    return book_switch(kCmdMarketBookAdd, args);
}

PyObject* market_book_release(PyObject*, PyObject* args) {
    return book_switch(kCmdMarketBookRelease, args);
}

PyObject* market_book_get(PyObject*, PyObject* args) {
    reset_last_error();
    char16_t symbol[kSymbolUnits] = {};
    if (!parse_symbol_argument(args, symbol)) {
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }

    RequestField request = request_text(symbol);
    const RecordKind levels = {sizeof(BookInfoRecord), 0, book_info_object};
    return query_records(kCmdMarketBookGet, &request, 1, levels, nullptr);
}
