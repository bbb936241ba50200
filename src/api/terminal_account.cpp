// terminal_info and account_info: one fixed record each, decoded field by field.
#include "api/call_result.h"
#include "link/call.h"
#include "module/errors.h"
#include "module/methods.h"
#include "module/records.h"
#include "wire/commands.h"
#include "wire/terminal.h"

static PyObject* terminal_info_object(const TerminalInfoRecord& wire) {
    RecordFiller filler = record_begin(kTerminalInfo);
    record_put(filler, py_flag(wire.community_account));
    record_put(filler, py_flag(wire.community_connection));
    record_put(filler, py_flag(wire.connected));
    record_put(filler, py_flag(wire.dlls_allowed));
    record_put(filler, py_flag(wire.trade_allowed));
    record_put(filler, py_flag(wire.tradeapi_disabled));
    record_put(filler, py_flag(wire.email_enabled));
    record_put(filler, py_flag(wire.ftp_enabled));
    record_put(filler, py_flag(wire.notifications_enabled));
    record_put(filler, py_flag(wire.bxid));
    record_put(filler, py_u32(wire.build));
    record_put(filler, py_u32(wire.maxbars));
    record_put(filler, py_i32(wire.codepage));
    record_put(filler, py_i32(wire.ping_last));
    record_put(filler, py_f64(wire.community_balance));
    record_put(filler, py_f64(wire.retransmission));
    record_put(filler, text_field(wire.company));
    record_put(filler, text_field(wire.name));
    record_put(filler, text_field(wire.language));
    record_put(filler, text_field(wire.path));
    record_put(filler, text_field(wire.data_path));
    record_put(filler, text_field(wire.commondata_path));
    return record_end(filler);
}

static PyObject* account_info_object(const AccountInfoRecord& wire) {
    RecordFiller filler = record_begin(kAccountInfo);
    record_put(filler, py_u64(wire.login));
    record_put(filler, py_u32(wire.trade_mode));
    record_put(filler, py_u32(wire.leverage));
    record_put(filler, py_u32(wire.limit_orders));
    record_put(filler, py_u32(wire.margin_so_mode));
    record_put(filler, py_flag(wire.trade_allowed));
    record_put(filler, py_flag(wire.trade_expert));
    record_put(filler, py_u32(wire.margin_mode));
    record_put(filler, py_u32(wire.currency_digits));
    record_put(filler, py_flag(wire.fifo_close));
    record_put(filler, py_f64(wire.balance));
    record_put(filler, py_f64(wire.credit));
    record_put(filler, py_f64(wire.profit));
    record_put(filler, py_f64(wire.equity));
    record_put(filler, py_f64(wire.margin));
    record_put(filler, py_f64(wire.margin_free));
    record_put(filler, py_f64(wire.margin_level));
    record_put(filler, py_f64(wire.margin_so_call));
    record_put(filler, py_f64(wire.margin_so_so));
    record_put(filler, py_f64(wire.margin_initial));
    record_put(filler, py_f64(wire.margin_maintenance));
    record_put(filler, py_f64(wire.assets));
    record_put(filler, py_f64(wire.liabilities));
    record_put(filler, py_f64(wire.commission_blocked));
    record_put(filler, text_field(wire.name));
    record_put(filler, text_field(wire.server));
    record_put(filler, text_field(wire.currency));
    record_put(filler, text_field(wire.company));
    return record_end(filler);
}

PyObject* terminal_info(PyObject*, PyObject*) {
    reset_last_error();
    TerminalInfoRecord wire;
    ReplyField reply = reply_fixed(&wire, sizeof wire);
    int32_t status = client_call(kCmdTerminalInfo, nullptr, 0, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(terminal_info_object(wire));
}

PyObject* account_info(PyObject*, PyObject*) {
    reset_last_error();
    AccountInfoRecord wire;
    ReplyField reply = reply_fixed(&wire, sizeof wire);
    int32_t status = client_call(kCmdAccountInfo, nullptr, 0, &reply, 1);
    if (status < 0) {
        return set_last_error(status);
    }
    return result_or_call_failed(account_info_object(wire));
}
