// Entry point of the extension and its method table.
#include "module/args.h"
#include "module/errors.h"
#include "module/methods.h"
#include "module/module.h"
#include "module/records.h"

#define DOC(signature, description) signature "\n\n" description

static PyMethodDef module_methods[] = {
    {"initialize", (PyCFunction)(void (*)(void))initialize, METH_VARARGS | METH_KEYWORDS,
     DOC("initialize([path],[server=\"SERVER\"],[login=LOGIN],[password=\"PASSWORD\"])",
         "Establish connection to Quillmark terminal")},
    {"shutdown", shutdown, METH_NOARGS, DOC("shutdown()", "Disconnect from Quillmark terminal")},
    {"login", (PyCFunction)(void (*)(void))login, METH_VARARGS | METH_KEYWORDS,
     DOC("login(login,[server=\"SERVER\"],[password=\"PASSWORD\"])", "Log in to specific account")},
    {"version", version, METH_NOARGS, DOC("version()", "Get Quillmark terminal version")},
    {"terminal_info", terminal_info, METH_NOARGS,
     DOC("terminal_info()", "Get parameters of Quillmark terminal")},
    {"account_info", account_info, METH_NOARGS,
     DOC("account_info()", "Return information on the current account")},
    {"copy_ticks_from", copy_ticks_from, METH_VARARGS,
     DOC("copy_ticks_from(symbol, date_from, count, flags)",
         "Get ticks starting from specific date")},
    {"copy_ticks_range", copy_ticks_range, METH_VARARGS,
     DOC("copy_ticks_range(symbol, date_from, date_to, flags)", "Get ticks from specified period")},
    {"copy_rates_from", copy_rates_from, METH_VARARGS,
     DOC("copy_rates_from(symbol, timeframe, date_from, count)",
         "Get bars starting from specific date")},
    {"copy_rates_from_pos", copy_rates_from_pos, METH_VARARGS,
     DOC("copy_rates_from_pos(symbol, timeframe, start_pos, count)",
         "Get bars starting from specified position")},
    {"copy_rates_range", copy_rates_range, METH_VARARGS,
     DOC("copy_rates_range(symbol, timeframe, date_from, date_to)",
         "Get bars from specified period")},
    {"positions_total", positions_total, METH_NOARGS,
     DOC("positions_total()", "Return the number of open positions")},
    {"positions_get", (PyCFunction)(void (*)(void))positions_get, METH_VARARGS | METH_KEYWORDS,
     DOC("positions_get([symbol=\"SYMBOL\"],[ticket=TICKET],[group=\"GROUP\"])",
         "Return all open positions, can be filtered by symbol, group or ticket")},
    {"orders_total", orders_total, METH_NOARGS,
     DOC("orders_total()", "Return the number of orders")},
    {"orders_get", (PyCFunction)(void (*)(void))orders_get, METH_VARARGS | METH_KEYWORDS,
     DOC("orders_get([symbol=\"SYMBOL\"],[ticket=TICKET],[group=\"GROUP\"])",
         "Return all orders, can be filtered by symbol, group or ticket")},
    {"history_orders_total", history_orders_total, METH_VARARGS,
     DOC("history_orders_total(date_from, date_to)",
         "Return the number of orders in selected range from history")},
    {"history_orders_get", (PyCFunction)(void (*)(void))history_orders_get,
     METH_VARARGS | METH_KEYWORDS,
     DOC("history_orders_get([date_from, date_to, [group=\"GROUP\"]],[position=POSITION],"
         "[ticket=TICKET])",
         "Return orders in selected range from history or filtered by position id, ticket")},
    {"history_deals_total", history_deals_total, METH_VARARGS,
     DOC("history_deals_total(date_from, date_to)",
         "Return the number of deals in selected range from history")},
    {"history_deals_get", (PyCFunction)(void (*)(void))history_deals_get,
     METH_VARARGS | METH_KEYWORDS,
     DOC("history_deals_get([date_from, date_to, [group=\"GROUP\"]],[position=POSITION],"
         "[ticket=TICKET])",
         "Return deals in selected range from history or filtered by position id, ticket")},
    {"order_check", (PyCFunction)(void (*)(void))order_check, METH_VARARGS | METH_KEYWORDS,
     DOC("order_check(request)",
         "Check if there are enough funds to execute required trading operation")},
    {"order_send", (PyCFunction)(void (*)(void))order_send, METH_VARARGS | METH_KEYWORDS,
     DOC("order_send(request)", "Send trading requests to server")},
    {"order_calc_margin", order_calc_margin, METH_VARARGS,
     DOC("order_calc_margin(action, symbol, volume, price,)",
         "Calculate margin required for specified order")},
    {"order_calc_profit", order_calc_profit, METH_VARARGS,
     DOC("order_calc_profit(action, symbol, volume, price_open, price_close)",
         "Calculate profit for the current account in the current market conditions based on "
         "parameters passed")},
    {"symbol_info", symbol_info, METH_VARARGS,
     DOC("symbol_info(symbol)", "Return full information for specified symbol")},
    {"symbol_info_tick", symbol_info_tick, METH_VARARGS,
     DOC("symbol_info_tick(symbol)", "Return current prices of specified symbol")},
    {"symbol_select", symbol_select, METH_VARARGS,
     DOC("symbol_select(symbol,[enable])",
         "Select symbol in Market Watch window or remove symbol from the window")},
    {"symbols_total", symbols_total, METH_NOARGS,
     DOC("symbols_total()", "Return the number of all available symbols")},
    {"symbols_get", (PyCFunction)(void (*)(void))symbols_get, METH_VARARGS | METH_KEYWORDS,
     DOC("symbols_get([group=\"GROUP\"])", "Return all available symbols or filtred by group")},
    {"market_book_add", market_book_add, METH_VARARGS,
     DOC("market_book_add(symbol)", "Opens Depth of Market for a selected symbol")},
    {"market_book_release", market_book_release, METH_VARARGS,
     DOC("market_book_release(symbol)", "Closes Depth of Market for a selected symbol")},
    {"market_book_get", market_book_get, METH_VARARGS,
     DOC("market_book_get(symbol)", "Returns Depth of Market structures of a specified symbol")},
    {"last_error", last_error, METH_NOARGS,
     DOC("last_error()", "Return last error code and description")},
    {nullptr, nullptr, 0, nullptr},
};

static PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "API Connector to Quillmark Terminal",
    -1,
    module_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyMODINIT_FUNC PyInit__core(void) {
    // The time arguments recognise datetime.datetime through this API, so the
    // module is useless without it.
    if (!import_datetime_api()) {
        return nullptr;
    }
    if (!import_numpy_api()) {
        PyErr_Print();
        PyErr_SetString(PyExc_ImportError, "numpy._core.multiarray failed to import");
        return nullptr;
    }
    // A failure leaves rates_dtype or ticks_dtype null; the bar and tick
    // functions report it when called, the rest of the module still works.
    build_market_data_types();
    PyErr_Clear();

    PyObject* module = PyModule_Create2(&module_definition, 1013);
    if (module != nullptr) {
        register_record_types(module);
    }
    return module;
}
