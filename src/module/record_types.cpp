// The eleven record types: struct sequences, each with an `_asdict` method.
#include "module/errors.h"
#include "module/records.h"

PyTypeObject* record_types[kRecordTypeCount];

// TradePosition: 19 fields
static PyStructSequence_Field trade_position_fields[] = {
    {"ticket", nullptr},
    {"time", nullptr},
    {"time_msc", nullptr},
    {"time_update", nullptr},
    {"time_update_msc", nullptr},
    {"type", nullptr},
    {"magic", nullptr},
    {"identifier", nullptr},
    {"reason", nullptr},
    {"volume", nullptr},
    {"price_open", nullptr},
    {"sl", nullptr},
    {"tp", nullptr},
    {"price_current", nullptr},
    {"swap", nullptr},
    {"profit", nullptr},
    {"symbol", nullptr},
    {"comment", nullptr},
    {"external_id", nullptr},
    {nullptr, nullptr},
};

// TradeOrder: 24 fields
static PyStructSequence_Field trade_order_fields[] = {
    {"ticket", nullptr},
    {"time_setup", nullptr},
    {"time_setup_msc", nullptr},
    {"time_done", nullptr},
    {"time_done_msc", nullptr},
    {"time_expiration", nullptr},
    {"type", nullptr},
    {"type_time", nullptr},
    {"type_filling", nullptr},
    {"state", nullptr},
    {"magic", nullptr},
    {"position_id", nullptr},
    {"position_by_id", nullptr},
    {"reason", nullptr},
    {"volume_initial", nullptr},
    {"volume_current", nullptr},
    {"price_open", nullptr},
    {"sl", nullptr},
    {"tp", nullptr},
    {"price_current", nullptr},
    {"price_stoplimit", nullptr},
    {"symbol", nullptr},
    {"comment", nullptr},
    {"external_id", nullptr},
    {nullptr, nullptr},
};

// TradeDeal: 18 fields
static PyStructSequence_Field trade_deal_fields[] = {
    {"ticket", nullptr},  {"order", nullptr},       {"time", nullptr},  {"time_msc", nullptr},
    {"type", nullptr},    {"entry", nullptr},       {"magic", nullptr}, {"position_id", nullptr},
    {"reason", nullptr},  {"volume", nullptr},      {"price", nullptr}, {"commission", nullptr},
    {"swap", nullptr},    {"profit", nullptr},      {"fee", nullptr},   {"symbol", nullptr},
    {"comment", nullptr}, {"external_id", nullptr}, {nullptr, nullptr},
};

// TradeRequest: 17 fields
static PyStructSequence_Field trade_request_fields[] = {
    {"action", nullptr},    {"magic", nullptr},       {"order", nullptr},
    {"symbol", nullptr},    {"volume", nullptr},      {"price", nullptr},
    {"stoplimit", nullptr}, {"sl", nullptr},          {"tp", nullptr},
    {"deviation", nullptr}, {"type", nullptr},        {"type_filling", nullptr},
    {"type_time", nullptr}, {"expiration", nullptr},  {"comment", nullptr},
    {"position", nullptr},  {"position_by", nullptr}, {nullptr, nullptr},
};

// OrderSendResult: 11 fields
static PyStructSequence_Field order_send_result_fields[] = {
    {"retcode", nullptr},    {"deal", nullptr},
    {"order", nullptr},      {"volume", nullptr},
    {"price", nullptr},      {"bid", nullptr},
    {"ask", nullptr},        {"comment", nullptr},
    {"request_id", nullptr}, {"retcode_external", nullptr},
    {"request", nullptr},    {nullptr, nullptr},
};

// OrderCheckResult: 9 fields
static PyStructSequence_Field order_check_result_fields[] = {
    {"retcode", nullptr}, {"balance", nullptr},     {"equity", nullptr},       {"profit", nullptr},
    {"margin", nullptr},  {"margin_free", nullptr}, {"margin_level", nullptr}, {"comment", nullptr},
    {"request", nullptr}, {nullptr, nullptr},
};

// Tick: 8 fields
static PyStructSequence_Field tick_fields[] = {
    {"time", nullptr},  {"bid", nullptr},         {"ask", nullptr},
    {"last", nullptr},  {"volume", nullptr},      {"time_msc", nullptr},
    {"flags", nullptr}, {"volume_real", nullptr}, {nullptr, nullptr},
};

// TerminalInfo: 22 fields
static PyStructSequence_Field terminal_info_fields[] = {
    {"community_account", nullptr},
    {"community_connection", nullptr},
    {"connected", nullptr},
    {"dlls_allowed", nullptr},
    {"trade_allowed", nullptr},
    {"tradeapi_disabled", nullptr},
    {"email_enabled", nullptr},
    {"ftp_enabled", nullptr},
    {"notifications_enabled", nullptr},
    {"bxid", nullptr},
    {"build", nullptr},
    {"maxbars", nullptr},
    {"codepage", nullptr},
    {"ping_last", nullptr},
    {"community_balance", nullptr},
    {"retransmission", nullptr},
    {"company", nullptr},
    {"name", nullptr},
    {"language", nullptr},
    {"path", nullptr},
    {"data_path", nullptr},
    {"commondata_path", nullptr},
    {nullptr, nullptr},
};

// SymbolInfo: 96 fields
static PyStructSequence_Field symbol_info_fields[] = {
    {"custom", nullptr},
    {"chart_mode", nullptr},
    {"select", nullptr},
    {"visible", nullptr},
    {"session_deals", nullptr},
    {"session_buy_orders", nullptr},
    {"session_sell_orders", nullptr},
    {"volume", nullptr},
    {"volumehigh", nullptr},
    {"volumelow", nullptr},
    {"time", nullptr},
    {"digits", nullptr},
    {"spread", nullptr},
    {"spread_float", nullptr},
    {"ticks_bookdepth", nullptr},
    {"trade_calc_mode", nullptr},
    {"trade_mode", nullptr},
    {"start_time", nullptr},
    {"expiration_time", nullptr},
    {"trade_stops_level", nullptr},
    {"trade_freeze_level", nullptr},
    {"trade_exemode", nullptr},
    {"swap_mode", nullptr},
    {"swap_rollover3days", nullptr},
    {"margin_hedged_use_leg", nullptr},
    {"expiration_mode", nullptr},
    {"filling_mode", nullptr},
    {"order_mode", nullptr},
    {"order_gtc_mode", nullptr},
    {"option_mode", nullptr},
    {"option_right", nullptr},
    {"bid", nullptr},
    {"bidhigh", nullptr},
    {"bidlow", nullptr},
    {"ask", nullptr},
    {"askhigh", nullptr},
    {"asklow", nullptr},
    {"last", nullptr},
    {"lasthigh", nullptr},
    {"lastlow", nullptr},
    {"volume_real", nullptr},
    {"volumehigh_real", nullptr},
    {"volumelow_real", nullptr},
    {"option_strike", nullptr},
    {"point", nullptr},
    {"trade_tick_value", nullptr},
    {"trade_tick_value_profit", nullptr},
    {"trade_tick_value_loss", nullptr},
    {"trade_tick_size", nullptr},
    {"trade_contract_size", nullptr},
    {"trade_accrued_interest", nullptr},
    {"trade_face_value", nullptr},
    {"trade_liquidity_rate", nullptr},
    {"volume_min", nullptr},
    {"volume_max", nullptr},
    {"volume_step", nullptr},
    {"volume_limit", nullptr},
    {"swap_long", nullptr},
    {"swap_short", nullptr},
    {"margin_initial", nullptr},
    {"margin_maintenance", nullptr},
    {"session_volume", nullptr},
    {"session_turnover", nullptr},
    {"session_interest", nullptr},
    {"session_buy_orders_volume", nullptr},
    {"session_sell_orders_volume", nullptr},
    {"session_open", nullptr},
    {"session_close", nullptr},
    {"session_aw", nullptr},
    {"session_price_settlement", nullptr},
    {"session_price_limit_min", nullptr},
    {"session_price_limit_max", nullptr},
    {"margin_hedged", nullptr},
    {"price_change", nullptr},
    {"price_volatility", nullptr},
    {"price_theoretical", nullptr},
    {"price_greeks_delta", nullptr},
    {"price_greeks_theta", nullptr},
    {"price_greeks_gamma", nullptr},
    {"price_greeks_vega", nullptr},
    {"price_greeks_rho", nullptr},
    {"price_greeks_omega", nullptr},
    {"price_sensitivity", nullptr},
    {"basis", nullptr},
    {"category", nullptr},
    {"currency_base", nullptr},
    {"currency_profit", nullptr},
    {"currency_margin", nullptr},
    {"bank", nullptr},
    {"description", nullptr},
    {"exchange", nullptr},
    {"formula", nullptr},
    {"isin", nullptr},
    {"name", nullptr},
    {"page", nullptr},
    {"path", nullptr},
    {nullptr, nullptr},
};

// AccountInfo: 28 fields
static PyStructSequence_Field account_info_fields[] = {
    {"login", nullptr},        {"trade_mode", nullptr},     {"leverage", nullptr},
    {"limit_orders", nullptr}, {"margin_so_mode", nullptr}, {"trade_allowed", nullptr},
    {"trade_expert", nullptr}, {"margin_mode", nullptr},    {"currency_digits", nullptr},
    {"fifo_close", nullptr},   {"balance", nullptr},        {"credit", nullptr},
    {"profit", nullptr},       {"equity", nullptr},         {"margin", nullptr},
    {"margin_free", nullptr},  {"margin_level", nullptr},   {"margin_so_call", nullptr},
    {"margin_so_so", nullptr}, {"margin_initial", nullptr}, {"margin_maintenance", nullptr},
    {"assets", nullptr},       {"liabilities", nullptr},    {"commission_blocked", nullptr},
    {"name", nullptr},         {"server", nullptr},         {"currency", nullptr},
    {"company", nullptr},      {nullptr, nullptr},
};

// BookInfo: 4 fields
static PyStructSequence_Field book_info_fields[] = {
    {"type", nullptr},       {"price", nullptr}, {"volume", nullptr},
    {"volume_dbl", nullptr}, {nullptr, nullptr},
};

static PyTypeObject type_objects[kRecordTypeCount];

// A field list and its length, not counting the terminating entry.
#define FIELDS(list) list, static_cast<int>(sizeof(list) / sizeof(list[0]) - 1)

// In RecordType order.
static PyStructSequence_Desc type_descs[kRecordTypeCount] = {
    {"TradePosition", "Trade position structure", FIELDS(trade_position_fields)},
    {"TradeOrder", "Trade order structure", FIELDS(trade_order_fields)},
    {"TradeDeal", "Trade deal structure", FIELDS(trade_deal_fields)},
    {"TradeRequest", "Trade request structure", FIELDS(trade_request_fields)},
    {"OrderSendResult", "order_send result structure", FIELDS(order_send_result_fields)},
    {"OrderCheckResult", "order_check result structure", FIELDS(order_check_result_fields)},
    {"Tick", "This is a structure for storing latest symbol prices", FIELDS(tick_fields)},
    {"TerminalInfo", "This is a structure for storing terminal information",
     FIELDS(terminal_info_fields)},
    {"SymbolInfo", "This is a structure for storing symbol information",
     FIELDS(symbol_info_fields)},
    {"AccountInfo", "This is a structure for storing account information",
     FIELDS(account_info_fields)},
    {"BookInfo", "This is a structure for storing Depth of Market information",
     FIELDS(book_info_fields)},
};

// The order in which _asdict tries the types.
static const RecordType asdict_order[kRecordTypeCount] = {
    kTradePosition, kTradeOrder,   kTradeDeal,  kOrderSendResult, kTradeRequest, kOrderCheckResult,
    kTick,          kTerminalInfo, kSymbolInfo, kAccountInfo,     kBookInfo,
};

static const RecordType* find_record_type(PyObject* object) {
    for (const RecordType& type : asdict_order) {
        if (record_types[type] != nullptr &&
            PyObject_IsInstance(object, (PyObject*)record_types[type]) == 1) {
            return &type;
        }
    }
    PyErr_Clear();
    return nullptr;
}

// A flat dictionary: a nested record (the request of a trade result) stays a
// record, as callers index it like one.
static PyObject* record_asdict(PyObject* self, PyObject*) {
    const RecordType* type = find_record_type(self);
    if (type == nullptr) {
        return set_last_error(kStatusInvalidParams, "Invalid object type");
    }
    const PyStructSequence_Desc& desc = type_descs[*type];
    if (self == nullptr || desc.fields == nullptr) {
        return set_last_error(kStatusInvalidParams, "Internal error");
    }
    Py_ssize_t length = PyTuple_Size(self);
    if (length != desc.n_in_sequence) {
        PyErr_Clear();
        return set_last_error(kStatusInvalidParams, "Invalid tuple size");
    }
    PyObject* dict = PyDict_New();
    if (dict == nullptr) {
        PyErr_Clear();
        return set_last_error(kStatusNoMemory, "Can't create dictionary");
    }
    for (Py_ssize_t i = 0; i < length; ++i) {
        PyObject* item = PyTuple_GET_ITEM(self, i);
        if (item != nullptr && PyDict_SetItemString(dict, desc.fields[i].name, item) < 0) {
            Py_DECREF(dict);
            PyErr_Clear();
            return set_last_error(kStatusNoMemory, "Can't create dictionary");
        }
    }
    return dict;
}

static PyMethodDef asdict_method = {"_asdict", record_asdict, METH_NOARGS,
                                    "Convert named tuple object to dictionary"};

static void add_asdict(PyTypeObject* type, PyObject* name) {
    PyObject* descriptor = PyDescr_NewMethod(type, &asdict_method);
    if (descriptor == nullptr) {
        PyErr_Clear();
        return;
    }
    // Straight into the type's dictionary: the type's own setter refuses
    // attributes on static types.
    if (PyObject_GenericSetAttr((PyObject*)type, name, descriptor) < 0) {
        PyErr_Clear();
    }
    Py_DECREF(descriptor);
    PyType_Modified(type);
}

static void register_record_type(PyObject* module, RecordType index) {
    PyObject* name = PyUnicode_InternFromString("_asdict");
    if (name == nullptr) {
        PyErr_Clear();
        return;
    }
    PyTypeObject* type = &type_objects[index];
    if (PyStructSequence_InitType2(type, &type_descs[index]) < 0) {
        PyErr_Clear();
        Py_DECREF(name);
        return;
    }
    Py_INCREF(type);
    add_asdict(type, name);
    if (PyModule_AddObject(module, type_descs[index].name, (PyObject*)type) < 0) {
        PyErr_Clear();
        Py_DECREF(type);
    }
    record_types[index] = type;
    Py_DECREF(name);
}

void register_record_types(PyObject* module) {
    for (int index = 0; index < kRecordTypeCount; ++index) {
        register_record_type(module, static_cast<RecordType>(index));
    }
}
