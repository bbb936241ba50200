// SQLite storage of the trading engine. The database runs in WAL mode with
// full synchronisation, so a committed transaction survives a crash or a
// power cut, and an interrupted one leaves no trace.
#include "terminal/engine_storage.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>

#include "link/platform/platform.h"
#include "terminal/enums.h"

namespace {

sqlite3* db = nullptr;

// Each entry upgrades the schema from its index to the next version.
const char* const kMigrations[] = {
    // 0 -> 1
    "CREATE TABLE settings(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE accounts(login INTEGER PRIMARY KEY, password TEXT NOT NULL,"
    " server TEXT, name TEXT, company TEXT, currency TEXT, balance REAL, credit REAL,"
    " leverage INTEGER, margin_mode INTEGER, needs_otp INTEGER, margin_so_call REAL,"
    " margin_so_so REAL, limit_orders INTEGER, trade_allowed INTEGER, trade_expert INTEGER);"
    "CREATE TABLE positions(ticket INTEGER PRIMARY KEY, login INTEGER NOT NULL, symbol TEXT,"
    " type INTEGER, volume REAL, price_open REAL, sl REAL, tp REAL, swap REAL,"
    " time_msc INTEGER, time_update_msc INTEGER, magic INTEGER, reason INTEGER, comment TEXT);"
    "CREATE INDEX positions_login ON positions(login);"
    "CREATE TABLE orders(ticket INTEGER PRIMARY KEY, login INTEGER NOT NULL, symbol TEXT,"
    " type INTEGER, type_time INTEGER, type_filling INTEGER, state INTEGER, pending INTEGER,"
    " volume_initial REAL, volume_current REAL, price_open REAL, price_stoplimit REAL,"
    " price_current REAL, sl REAL, tp REAL, time_setup_msc INTEGER, time_done_msc INTEGER,"
    " time_expiration INTEGER, magic INTEGER, position_id INTEGER, position_by_id INTEGER,"
    " reason INTEGER, comment TEXT);"
    "CREATE INDEX orders_pending ON orders(login, pending);"
    "CREATE INDEX orders_done ON orders(login, time_done_msc);"
    "CREATE INDEX orders_position ON orders(login, position_id);"
    "CREATE TABLE deals(ticket INTEGER PRIMARY KEY, login INTEGER NOT NULL,"
    " order_ticket INTEGER, time_msc INTEGER, type INTEGER, entry INTEGER, magic INTEGER,"
    " position_id INTEGER, reason INTEGER, volume REAL, price REAL, commission REAL,"
    " swap REAL, profit REAL, fee REAL, symbol TEXT, comment TEXT);"
    "CREATE INDEX deals_time ON deals(login, time_msc);"
    "CREATE INDEX deals_position ON deals(login, position_id);",
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kSchemaVersion,
              "one migration for each schema version");

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
    " trade_expert";

bool exec(const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* prepare(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        return nullptr;
    }
    return statement;
}

// Statements for the write path, prepared once: opening 100,000 positions
// in one request must not parse SQL 100,000 times.
struct Statements {
    sqlite3_stmt* put_account;
    sqlite3_stmt* put_position;
    sqlite3_stmt* delete_position;
    sqlite3_stmt* put_order;
    sqlite3_stmt* put_deal;
    sqlite3_stmt* put_setting;
};
Statements statements = {};

void finalize_statements() {
    sqlite3_finalize(statements.put_account);
    sqlite3_finalize(statements.put_position);
    sqlite3_finalize(statements.delete_position);
    sqlite3_finalize(statements.put_order);
    sqlite3_finalize(statements.put_deal);
    sqlite3_finalize(statements.put_setting);
    statements = Statements{};
}

std::string insert_sql(const char* table, const char* columns, int count) {
    std::string sql = std::string("INSERT OR REPLACE INTO ") + table + "(" + columns + ") VALUES(";
    for (int i = 0; i < count; ++i) {
        sql += i ? ",?" : "?";
    }
    return sql + ")";
}

bool prepare_statements() {
    statements.put_account = prepare(insert_sql("accounts", kAccountColumns, 16));
    statements.put_position = prepare(insert_sql("positions", kPositionColumns, 14));
    statements.delete_position = prepare("DELETE FROM positions WHERE ticket = ?");
    statements.put_order = prepare(insert_sql("orders", kOrderColumns, 23));
    statements.put_deal = prepare(insert_sql("deals", kDealColumns, 17));
    statements.put_setting = prepare("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)");
    return statements.put_account && statements.put_position && statements.delete_position &&
           statements.put_order && statements.put_deal && statements.put_setting;
}

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

bool step_done(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return rc == SQLITE_DONE;
}

bool write_account(const Account& a) {
    sqlite3_stmt* s = statements.put_account;
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
    return step_done(s);
}

bool write_position(const Position& p) {
    sqlite3_stmt* s = statements.put_position;
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
    return step_done(s);
}

bool delete_position(uint64_t ticket) {
    bind_u64(statements.delete_position, 1, ticket);
    return step_done(statements.delete_position);
}

bool is_pending_state(uint32_t state) {
    return state == kOrderStateStarted || state == kOrderStatePlaced || state == kOrderStatePartial;
}

bool write_order(const Order& o) {
    sqlite3_stmt* s = statements.put_order;
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
    return step_done(s);
}

bool write_deal(const Deal& d) {
    sqlite3_stmt* s = statements.put_deal;
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
    return step_done(s);
}

bool write_setting(const char* key, int64_t value) {
    sqlite3_stmt* s = statements.put_setting;
    sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, value);
    return step_done(s);
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

bool set_error(std::string* error, const char* what) {
    if (error) {
        *error = std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "no database");
    }
    return false;
}

int user_version() {
    int version = -1;
    sqlite3_stmt* s = prepare("PRAGMA user_version");
    if (s && sqlite3_step(s) == SQLITE_ROW) {
        version = sqlite3_column_int(s, 0);
    }
    sqlite3_finalize(s);
    return version;
}

bool migrate(std::string* error) {
    int version = user_version();
    if (version < 0) {
        return set_error(error, "cannot read the schema version");
    }
    if (version > kSchemaVersion) {
        if (error) {
            *error = "the database was written by a newer version (schema " +
                     std::to_string(version) + ")";
        }
        return false;
    }
    for (; version < kSchemaVersion; ++version) {
        std::string sql = std::string("BEGIN IMMEDIATE;") + kMigrations[version] +
                          "PRAGMA user_version = " + std::to_string(version + 1) + ";COMMIT;";
        if (!exec(sql.c_str())) {
            set_error(error, "cannot migrate the database");
            exec("ROLLBACK");
            return false;
        }
    }
    return true;
}

template <typename T>
void select_rows(const std::string& sql, const int64_t* args, int count, T (*read)(sqlite3_stmt*),
                 std::vector<T>* out) {
    sqlite3_stmt* s = prepare(sql);
    if (!s) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        sqlite3_bind_int64(s, i + 1, args[i]);
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
        out->push_back(read(s));
    }
    sqlite3_finalize(s);
}

}  // namespace

bool storage_open(const std::string& path, std::string* error) {
    storage_close();
    // One thread uses the database, so SQLite's own locking is not needed.
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        set_error(error, "cannot open the database");
        storage_close();
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    // A large page cache keeps a transaction of 100,000 positions in memory
    // until its commit.
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=FULL") ||
        !exec("PRAGMA cache_size=-65536")) {
        set_error(error, "cannot set the journal mode");
        storage_close();
        return false;
    }
    if (!migrate(error)) {
        storage_close();
        return false;
    }
    if (!prepare_statements()) {
        set_error(error, "cannot prepare statements");
        storage_close();
        return false;
    }
    return true;
}

void storage_close() {
    finalize_statements();
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
}

bool storage_load(Engine* engine, std::string* error) {
    engine->books.clear();
    engine->current_login = 0;
    engine->next_ticket = 0;
    std::vector<Account> accounts;
    select_rows(std::string("SELECT ") + kAccountColumns + " FROM accounts ORDER BY login", nullptr,
                0, read_account, &accounts);
    for (const Account& account : accounts) {
        engine->books[account.settings.login].account = account;
    }
    std::vector<Position> positions;
    select_rows(std::string("SELECT ") + kPositionColumns + " FROM positions", nullptr, 0,
                read_position, &positions);
    for (const Position& p : positions) {
        auto book = engine->books.find(p.login);
        if (book != engine->books.end()) {
            book->second.positions.emplace(p.ticket, p);
        }
    }
    std::vector<Order> orders;
    select_rows(std::string("SELECT ") + kOrderColumns + " FROM orders WHERE pending = 1", nullptr,
                0, read_order, &orders);
    for (const Order& o : orders) {
        auto book = engine->books.find(o.login);
        if (book != engine->books.end()) {
            book->second.orders.emplace(o.ticket, o);
        }
    }
    sqlite3_stmt* s = prepare("SELECT key, value FROM settings");
    if (!s) {
        return set_error(error, "cannot read the settings");
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
        const char* key = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        int64_t value = sqlite3_column_int64(s, 1);
        if (key && strcmp(key, "next_ticket") == 0) {
            engine->next_ticket = (uint64_t)value;
        } else if (key && strcmp(key, "current_login") == 0) {
            engine->current_login = (uint64_t)value;
        }
    }
    sqlite3_finalize(s);
    return true;
}

bool storage_write(const Changes& changes, const Engine& engine) {
    if (!db || !exec("BEGIN IMMEDIATE")) {
        return false;
    }
    bool ok = true;
    for (uint64_t login : changes.accounts) {
        auto book = engine.books.find(login);
        if (book != engine.books.end()) {
            ok = ok && write_account(book->second.account);
        }
    }
    for (const auto& p : changes.positions_put) {
        ok = ok && write_position(p.second);
    }
    for (uint64_t ticket : changes.positions_deleted) {
        ok = ok && delete_position(ticket);
    }
    for (const auto& o : changes.orders_put) {
        ok = ok && write_order(o.second);
    }
    for (const Deal& d : changes.deals) {
        ok = ok && write_deal(d);
    }
    ok = ok && write_setting("next_ticket", (int64_t)engine.next_ticket);
    ok = ok && write_setting("current_login", (int64_t)engine.current_login);
    if (ok && exec("COMMIT")) {
        return true;
    }
    exec("ROLLBACK");
    return false;
}

std::string password_digest(uint64_t login, const std::u16string& password) {
    // The login salts the digest, so equal passwords differ between accounts.
    std::string input = std::to_string(login) + ":";
    input.append(reinterpret_cast<const char*>(password.data()), password.size() * 2);
    uint8_t digest[32];
    if (!platform_sha256(input.data(), input.size(), digest)) {
        return std::string();
    }
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < sizeof(digest); ++i) {
        snprintf(pair, sizeof(pair), "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

void storage_history_orders(uint64_t login, int64_t from_msc, int64_t to_msc,
                            std::vector<Order>* out) {
    int64_t args[3] = {(int64_t)login, from_msc, to_msc};
    select_rows(std::string("SELECT ") + kOrderColumns +
                    " FROM orders WHERE login = ? AND pending = 0 AND time_done_msc BETWEEN ? AND ?"
                    " ORDER BY time_done_msc, ticket",
                args, 3, read_order, out);
}

void storage_history_orders_by_position(uint64_t login, uint64_t position,
                                        std::vector<Order>* out) {
    int64_t args[2] = {(int64_t)login, (int64_t)position};
    select_rows(std::string("SELECT ") + kOrderColumns +
                    " FROM orders WHERE login = ? AND pending = 0 AND position_id = ?"
                    " ORDER BY time_done_msc, ticket",
                args, 2, read_order, out);
}

bool storage_history_order(uint64_t login, uint64_t ticket, Order* out) {
    std::vector<Order> found;
    int64_t args[2] = {(int64_t)login, (int64_t)ticket};
    select_rows(std::string("SELECT ") + kOrderColumns +
                    " FROM orders WHERE login = ? AND pending = 0 AND ticket = ?",
                args, 2, read_order, &found);
    if (found.empty()) {
        return false;
    }
    *out = found[0];
    return true;
}

void storage_deals(uint64_t login, int64_t from_msc, int64_t to_msc, std::vector<Deal>* out) {
    int64_t args[3] = {(int64_t)login, from_msc, to_msc};
    select_rows(std::string("SELECT ") + kDealColumns +
                    " FROM deals WHERE login = ? AND time_msc BETWEEN ? AND ?"
                    " ORDER BY time_msc, ticket",
                args, 3, read_deal, out);
}

void storage_deals_by_position(uint64_t login, uint64_t position, std::vector<Deal>* out) {
    int64_t args[2] = {(int64_t)login, (int64_t)position};
    select_rows(std::string("SELECT ") + kDealColumns +
                    " FROM deals WHERE login = ? AND position_id = ? ORDER BY time_msc, ticket",
                args, 2, read_deal, out);
}

bool storage_deal(uint64_t login, uint64_t ticket, Deal* out) {
    std::vector<Deal> found;
    int64_t args[2] = {(int64_t)login, (int64_t)ticket};
    select_rows(
        std::string("SELECT ") + kDealColumns + " FROM deals WHERE login = ? AND ticket = ?", args,
        2, read_deal, &found);
    if (found.empty()) {
        return false;
    }
    *out = found[0];
    return true;
}
