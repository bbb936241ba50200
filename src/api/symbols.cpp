// The symbol functions: count, list, full description, latest prices and the
// market watch selection.
#include <cstring>

#include "api/call_result.h"
#include "api/record_query.h"
#include "api/symbol_argument.h"
#include "link/call.h"
#include "link/client.h"
#include "module/args.h"
#include "module/errors.h"
#include "module/methods.h"
#include "module/records.h"
#include "wire/commands.h"
#include "wire/symbols.h"

// Takes the bytes of one full SymbolInfoRecord; name is last on the wire but
// sits between isin and page in SymbolInfo.
static PyObject* symbol_info_object(const uint8_t* bytes) {
    const SymbolInfoRecord& wire = *reinterpret_cast<const SymbolInfoRecord*>(bytes);
    RecordFiller filler = record_begin(kSymbolInfo);
    record_put(filler, py_flag(wire.custom));
    record_put(filler, py_u32(wire.chart_mode));
    record_put(filler, py_flag(wire.select));
    record_put(filler, py_flag(wire.visible));
    record_put(filler, py_u64(wire.session_deals));
    record_put(filler, py_u64(wire.session_buy_orders));
    record_put(filler, py_u64(wire.session_sell_orders));
    record_put(filler, py_u64(wire.volume));
    record_put(filler, py_u64(wire.volumehigh));
    record_put(filler, py_u64(wire.volumelow));
    record_put(filler, py_i64(wire.time));
    record_put(filler, py_u32(wire.digits));
    record_put(filler, py_i32(wire.spread));
    record_put(filler, py_flag(wire.spread_float));
    record_put(filler, py_u32(wire.ticks_bookdepth));
    record_put(filler, py_u32(wire.trade_calc_mode));
    record_put(filler, py_u32(wire.trade_mode));
    record_put(filler, py_i64(wire.start_time));
    record_put(filler, py_i64(wire.expiration_time));
    record_put(filler, py_i32(wire.trade_stops_level));
    record_put(filler, py_i32(wire.trade_freeze_level));
    record_put(filler, py_u32(wire.trade_exemode));
    record_put(filler, py_u32(wire.swap_mode));
    record_put(filler, py_u32(wire.swap_rollover3days));
    record_put(filler, py_flag(wire.margin_hedged_use_leg));
    record_put(filler, py_i32(wire.expiration_mode));
    record_put(filler, py_i32(wire.filling_mode));
    record_put(filler, py_i32(wire.order_mode));
    record_put(filler, py_u32(wire.order_gtc_mode));
    record_put(filler, py_u32(wire.option_mode));
    record_put(filler, py_u32(wire.option_right));
    record_put(filler, py_f64(wire.bid));
    record_put(filler, py_f64(wire.bidhigh));
    record_put(filler, py_f64(wire.bidlow));
    record_put(filler, py_f64(wire.ask));
    record_put(filler, py_f64(wire.askhigh));
    record_put(filler, py_f64(wire.asklow));
    record_put(filler, py_f64(wire.last));
    record_put(filler, py_f64(wire.lasthigh));
    record_put(filler, py_f64(wire.lastlow));
    record_put(filler, py_f64(wire.volume_real));
    record_put(filler, py_f64(wire.volumehigh_real));
    record_put(filler, py_f64(wire.volumelow_real));
    record_put(filler, py_f64(wire.option_strike));
    record_put(filler, py_f64(wire.point));
    record_put(filler, py_f64(wire.trade_tick_value));
    record_put(filler, py_f64(wire.trade_tick_value_profit));
    record_put(filler, py_f64(wire.trade_tick_value_loss));
    record_put(filler, py_f64(wire.trade_tick_size));
    record_put(filler, py_f64(wire.trade_contract_size));
    record_put(filler, py_f64(wire.trade_accrued_interest));
    record_put(filler, py_f64(wire.trade_face_value));
    record_put(filler, py_f64(wire.trade_liquidity_rate));
    record_put(filler, py_f64(wire.volume_min));
    record_put(filler, py_f64(wire.volume_max));
    record_put(filler, py_f64(wire.volume_step));
    record_put(filler, py_f64(wire.volume_limit));
    record_put(filler, py_f64(wire.swap_long));
    record_put(filler, py_f64(wire.swap_short));
    record_put(filler, py_f64(wire.margin_initial));
    record_put(filler, py_f64(wire.margin_maintenance));
    record_put(filler, py_f64(wire.session_volume));
    record_put(filler, py_f64(wire.session_turnover));
    record_put(filler, py_f64(wire.session_interest));
    record_put(filler, py_f64(wire.session_buy_orders_volume));
    record_put(filler, py_f64(wire.session_sell_orders_volume));
    record_put(filler, py_f64(wire.session_open));
    record_put(filler, py_f64(wire.session_close));
    record_put(filler, py_f64(wire.session_aw));
    record_put(filler, py_f64(wire.session_price_settlement));
    record_put(filler, py_f64(wire.session_price_limit_min));
    record_put(filler, py_f64(wire.session_price_limit_max));
    record_put(filler, py_f64(wire.margin_hedged));
    record_put(filler, py_f64(wire.price_change));
    record_put(filler, py_f64(wire.price_volatility));
    record_put(filler, py_f64(wire.price_theoretical));
    record_put(filler, py_f64(wire.price_greeks_delta));
    record_put(filler, py_f64(wire.price_greeks_theta));
    record_put(filler, py_f64(wire.price_greeks_gamma));
    record_put(filler, py_f64(wire.price_greeks_vega));
    record_put(filler, py_f64(wire.price_greeks_rho));
    record_put(filler, py_f64(wire.price_greeks_omega));
    record_put(filler, py_f64(wire.price_sensitivity));
    record_put(filler, text_field(wire.basis));
    record_put(filler, text_field(wire.category));
    record_put(filler, text_field(wire.currency_base));
    record_put(filler, text_field(wire.currency_profit));
    record_put(filler, text_field(wire.currency_margin));
    record_put(filler, text_field(wire.bank));
    record_put(filler, text_field(wire.description));
    record_put(filler, text_field(wire.exchange));
    record_put(filler, text_field(wire.formula));
    record_put(filler, text_field(wire.isin));
    record_put(filler, text_field(wire.name));
    record_put(filler, text_field(wire.page));
    record_put(filler, text_field(wire.path));
    return record_end(filler);
}

static PyObject* tick_object(const TickRecord& wire) {
    RecordFiller filler = record_begin(kTick);
    record_put(filler, py_i64(wire.time));
    record_put(filler, py_f64(wire.bid));
    record_put(filler, py_f64(wire.ask));
    record_put(filler, py_f64(wire.last));
    record_put(filler, py_u64(wire.volume));
    record_put(filler, py_i64(wire.time_msc));
    record_put(filler, py_u32(wire.flags));
    record_put(filler, py_f64(wire.volume_real));
    return record_end(filler);
}

PyObject* symbols_total(PyObject*, PyObject*) {
    reset_last_error();
    return query_total(kCmdSymbolsTotal, nullptr, 0);
}

// The group mask of symbols_get: at most one positional text, replaced by the
// keyword `group` when that is given too. Records the refusal itself.
static bool parse_group(PyObject* args, PyObject* kwargs, char16_t* group) {
    Py_ssize_t positional = PyTuple_GET_SIZE(args);
    if (positional > 1) {
        record_last_error(kStatusInvalidParams, "Invalid number of arguments");
        return false;
    }
    if (positional == 1 &&
        !convert_string_argument(PyTuple_GET_ITEM(args, 0), group, kGroupUnits)) {
        record_last_error(kStatusInvalidParams, "Invalid 1st unnamed argument");
        return false;
    }
    PyObject* keyword = kwargs ? PyDict_GetItemString(kwargs, "group") : nullptr;
    if (keyword != nullptr && !convert_string_argument(keyword, group, kGroupUnits)) {
        record_last_error(kStatusInvalidParams, "Invalid \"group\" argument");
        return false;
    }
    return true;
}

PyObject* symbols_get(PyObject*, PyObject* args, PyObject* kwargs) {
    reset_last_error();
    char16_t group[kGroupUnits] = {};
    if (!parse_group(args, kwargs, group)) {
        PyErr_Clear();
        Py_RETURN_FALSE;
    }

    // The terminal applies the mask itself.
    const RecordKind symbols = {sizeof(SymbolInfoRecord), 0, symbol_info_object};
    if (group[0] == 0) {
        return query_records(kCmdSymbolsGet, nullptr, 0, symbols, nullptr);
    }
    RequestField request = request_text(group);
    return query_records(kCmdSymbolsGetGroup, &request, 1, symbols, nullptr);
}

PyObject* symbol_info(PyObject*, PyObject* args) {
    reset_last_error();
    char16_t symbol[kSymbolUnits] = {};
    if (!parse_symbol_argument(args, symbol)) {
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }

    // Older terminals stop before the name; the requested name stands in for it.
    bool short_record = client.terminal_build < kBuildSymbolsApi;
    SymbolInfoRecord wire = {};
    uint32_t size = short_record ? kSymbolInfoShortSize : sizeof wire;
    RequestField request = request_text(symbol);
    ReplyField reply = reply_fixed(&wire, size);
    int32_t status = client_call(kCmdSymbolInfo, &request, 1, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    if (short_record) {
        static_assert(sizeof wire.name == sizeof symbol, "name field holds a symbol buffer");
        std::memcpy(wire.name, symbol, sizeof symbol);
    }
    return result_or_call_failed(symbol_info_object(reinterpret_cast<const uint8_t*>(&wire)));
}

PyObject* symbol_info_tick(PyObject*, PyObject* args) {
    reset_last_error();
    char16_t symbol[kSymbolUnits] = {};
    if (!parse_symbol_argument(args, symbol)) {
        return set_last_error(kStatusInvalidParams, "Invalid arguments");
    }

    TickRecord wire;
    RequestField request = request_text(symbol);
    ReplyField reply = reply_fixed(&wire, sizeof wire);
    int32_t status = client_call(kCmdSymbolInfoTick, &request, 1, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(tick_object(wire));
}

PyObject* symbol_select(PyObject*, PyObject* args) {
    reset_last_error();
    PyObject* object = nullptr;
    int enable = 1;
    char16_t symbol[kSymbolUnits] = {};
    if (!PyArg_ParseTuple(args, "O|p", &object, &enable) ||
        !convert_string_argument(object, symbol, kSymbolUnits)) {
        PyErr_Clear();
        return set_last_error_false(kStatusInvalidParams, "Invalid arguments");
    }

    uint8_t enable_byte = enable ? 1 : 0;
    RequestField request[] = {request_text(symbol), request_bytes(&enable_byte, 1)};
    int32_t status = client_call(kCmdSymbolSelect, request, 2, nullptr, 0);
    if (status < 0) {
        return set_last_error_false(status);
    }
    Py_RETURN_TRUE;
}
