// The engine's records as table rows: the column lists, and binding and
// reading each record in their order.
#include "terminal/storage/rows.h"

#include "wire/enums.h"

const char kOrderColumns[] =
    "ticket, login, symbol, type, type_time, type_filling, state, pending, volume_initial,"
    " volume_current, price_open, price_stoplimit, price_current, sl, tp, time_setup_msc,"
    " time_done_msc, time_expiration, magic, position_id, position_by_id, reason, comment";
const char kDealColumns[] =
    "ticket, login, order_ticket, time_msc, type, entry, magic, position_id, reason, volume,"
    " price, commission, swap, profit, fee, symbol, comment";
const char kPositionColumns[] =
    "ticket, login, symbol, type, volume, price_open, sl, tp, swap, time_msc,"
    " time_update_msc, magic, reason, comment";
const char kAccountColumns[] =
    "login, password, server, name, company, currency, balance, credit, leverage,"
    " margin_mode, needs_otp, margin_so_call, margin_so_so, limit_orders, trade_allowed,"
    " trade_expert, commission";

namespace {

// Unsigned 64-bit values (tickets, magic numbers) are kept bit for bit in
// SQLite's signed integers.
void bind_u64(sqlite3_stmt* s, int i, uint64_t v) {
    sqlite3_bind_int64(s, i, (int64_t)v);
}
void bind_text(sqlite3_stmt* s, int i, const std::u16string& text) {
    sqlite3_bind_text16(s, i, text.data(), (int)(text.size() * 2), SQLITE_TRANSIENT);
}
uint64_t column_u64(sqlite3_stmt* s, int i) {
    return (uint64_t)sqlite3_column_int64(s, i);
}
std::u16string column_text(sqlite3_stmt* s, int i) {
    const void* text = sqlite3_column_text16(s, i);
    int bytes = sqlite3_column_bytes16(s, i);
    if (!text) {
        return std::u16string();
    }
    return std::u16string(static_cast<const char16_t*>(text), (size_t)bytes / 2);
}

bool is_pending_state(uint32_t state) {
    return state == kOrderStateStarted || state == kOrderStatePlaced || state == kOrderStatePartial;
}

}  // namespace

void bind_account(sqlite3_stmt* s, const Account& a) {
    const AccountSettings& x = a.settings;
    bind_u64(s, 1, x.login);
    sqlite3_bind_text(s, 2, a.password_digest.c_str(), -1, SQLITE_TRANSIENT);
    bind_text(s, 3, x.server);
    bind_text(s, 4, x.name);
    bind_text(s, 5, x.company);
    bind_text(s, 6, x.currency);
    sqlite3_bind_double(s, 7, x.balance);
    sqlite3_bind_double(s, 8, a.credit);
    sqlite3_bind_int64(s, 9, x.leverage);
    sqlite3_bind_int64(s, 10, x.margin_mode);
    sqlite3_bind_int(s, 11, x.needs_otp ? 1 : 0);
    sqlite3_bind_double(s, 12, a.margin_so_call);
    sqlite3_bind_double(s, 13, a.margin_so_so);
    sqlite3_bind_int64(s, 14, a.limit_orders);
    sqlite3_bind_int(s, 15, a.trade_allowed ? 1 : 0);
    sqlite3_bind_int(s, 16, a.trade_expert ? 1 : 0);
    sqlite3_bind_double(s, 17, x.commission);
}

void bind_position(sqlite3_stmt* s, const Position& p) {
    bind_u64(s, 1, p.ticket);
    bind_u64(s, 2, p.login);
    bind_text(s, 3, p.symbol);
    sqlite3_bind_int64(s, 4, p.type);
    sqlite3_bind_double(s, 5, p.volume);
    sqlite3_bind_double(s, 6, p.price_open);
    sqlite3_bind_double(s, 7, p.sl);
    sqlite3_bind_double(s, 8, p.tp);
    sqlite3_bind_double(s, 9, p.swap);
    sqlite3_bind_int64(s, 10, p.time_msc);
    sqlite3_bind_int64(s, 11, p.time_update_msc);
    bind_u64(s, 12, p.magic);
    sqlite3_bind_int64(s, 13, p.reason);
    bind_text(s, 14, p.comment);
}

void bind_order(sqlite3_stmt* s, const Order& o) {
    bind_u64(s, 1, o.ticket);
    bind_u64(s, 2, o.login);
    bind_text(s, 3, o.symbol);
    sqlite3_bind_int64(s, 4, o.type);
    sqlite3_bind_int64(s, 5, o.type_time);
    sqlite3_bind_int64(s, 6, o.type_filling);
    sqlite3_bind_int64(s, 7, o.state);
    sqlite3_bind_int(s, 8, is_pending_state(o.state) ? 1 : 0);
    sqlite3_bind_double(s, 9, o.volume_initial);
    sqlite3_bind_double(s, 10, o.volume_current);
    sqlite3_bind_double(s, 11, o.price_open);
    sqlite3_bind_double(s, 12, o.price_stoplimit);
    sqlite3_bind_double(s, 13, o.price_current);
    sqlite3_bind_double(s, 14, o.sl);
    sqlite3_bind_double(s, 15, o.tp);
    sqlite3_bind_int64(s, 16, o.time_setup_msc);
    sqlite3_bind_int64(s, 17, o.time_done_msc);
    sqlite3_bind_int64(s, 18, o.time_expiration);
    bind_u64(s, 19, o.magic);
    bind_u64(s, 20, o.position_id);
    bind_u64(s, 21, o.position_by_id);
    sqlite3_bind_int64(s, 22, o.reason);
    bind_text(s, 23, o.comment);
}

void bind_deal(sqlite3_stmt* s, const Deal& d) {
    bind_u64(s, 1, d.ticket);
    bind_u64(s, 2, d.login);
    bind_u64(s, 3, d.order);
    sqlite3_bind_int64(s, 4, d.time_msc);
    sqlite3_bind_int64(s, 5, d.type);
    sqlite3_bind_int64(s, 6, d.entry);
    bind_u64(s, 7, d.magic);
    bind_u64(s, 8, d.position_id);
    sqlite3_bind_int64(s, 9, d.reason);
    sqlite3_bind_double(s, 10, d.volume);
    sqlite3_bind_double(s, 11, d.price);
    sqlite3_bind_double(s, 12, d.commission);
    sqlite3_bind_double(s, 13, d.swap);
    sqlite3_bind_double(s, 14, d.profit);
    sqlite3_bind_double(s, 15, d.fee);
    bind_text(s, 16, d.symbol);
    bind_text(s, 17, d.comment);
}

Account read_account(sqlite3_stmt* s) {
    Account a = {};
    a.settings.login = column_u64(s, 0);
    a.password_digest = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    a.settings.server = column_text(s, 2);
    a.settings.name = column_text(s, 3);
    a.settings.company = column_text(s, 4);
    a.settings.currency = column_text(s, 5);
    a.settings.balance = sqlite3_column_double(s, 6);
    a.credit = sqlite3_column_double(s, 7);
    a.settings.leverage = (uint32_t)sqlite3_column_int64(s, 8);
    a.settings.margin_mode = (uint32_t)sqlite3_column_int64(s, 9);
    a.settings.needs_otp = sqlite3_column_int(s, 10) != 0;
    a.margin_so_call = sqlite3_column_double(s, 11);
    a.margin_so_so = sqlite3_column_double(s, 12);
    a.limit_orders = (uint32_t)sqlite3_column_int64(s, 13);
    a.trade_allowed = sqlite3_column_int(s, 14) != 0;
    a.trade_expert = sqlite3_column_int(s, 15) != 0;
    a.settings.commission = sqlite3_column_double(s, 16);
    return a;
}

Position read_position(sqlite3_stmt* s) {
    Position p = {};
    p.ticket = column_u64(s, 0);
    p.login = column_u64(s, 1);
    p.symbol = column_text(s, 2);
    p.type = (uint32_t)sqlite3_column_int64(s, 3);
    p.volume = sqlite3_column_double(s, 4);
    p.price_open = sqlite3_column_double(s, 5);
    p.sl = sqlite3_column_double(s, 6);
    p.tp = sqlite3_column_double(s, 7);
    p.swap = sqlite3_column_double(s, 8);
    p.time_msc = sqlite3_column_int64(s, 9);
    p.time_update_msc = sqlite3_column_int64(s, 10);
    p.magic = column_u64(s, 11);
    p.reason = (uint32_t)sqlite3_column_int64(s, 12);
    p.comment = column_text(s, 13);
    return p;
}

Order read_order(sqlite3_stmt* s) {
    Order o = {};
    o.ticket = column_u64(s, 0);
    o.login = column_u64(s, 1);
    o.symbol = column_text(s, 2);
    o.type = (uint32_t)sqlite3_column_int64(s, 3);
    o.type_time = (uint32_t)sqlite3_column_int64(s, 4);
    o.type_filling = (uint32_t)sqlite3_column_int64(s, 5);
    o.state = (uint32_t)sqlite3_column_int64(s, 6);
    // column 7 (pending) only serves the index
    o.volume_initial = sqlite3_column_double(s, 8);
    o.volume_current = sqlite3_column_double(s, 9);
    o.price_open = sqlite3_column_double(s, 10);
    o.price_stoplimit = sqlite3_column_double(s, 11);
    o.price_current = sqlite3_column_double(s, 12);
    o.sl = sqlite3_column_double(s, 13);
    o.tp = sqlite3_column_double(s, 14);
    o.time_setup_msc = sqlite3_column_int64(s, 15);
    o.time_done_msc = sqlite3_column_int64(s, 16);
    o.time_expiration = sqlite3_column_int64(s, 17);
    o.magic = column_u64(s, 18);
    o.position_id = column_u64(s, 19);
    o.position_by_id = column_u64(s, 20);
    o.reason = (uint32_t)sqlite3_column_int64(s, 21);
    o.comment = column_text(s, 22);
    return o;
}

Deal read_deal(sqlite3_stmt* s) {
    Deal d = {};
    d.ticket = column_u64(s, 0);
    d.login = column_u64(s, 1);
    d.order = column_u64(s, 2);
    d.time_msc = sqlite3_column_int64(s, 3);
    d.type = (uint32_t)sqlite3_column_int64(s, 4);
    d.entry = (uint32_t)sqlite3_column_int64(s, 5);
    d.magic = column_u64(s, 6);
    d.position_id = column_u64(s, 7);
    d.reason = (uint32_t)sqlite3_column_int64(s, 8);
    d.volume = sqlite3_column_double(s, 9);
    d.price = sqlite3_column_double(s, 10);
    d.commission = sqlite3_column_double(s, 11);
    d.swap = sqlite3_column_double(s, 12);
    d.profit = sqlite3_column_double(s, 13);
    d.fee = sqlite3_column_double(s, 14);
    d.symbol = column_text(s, 15);
    d.comment = column_text(s, 16);
    return d;
}
