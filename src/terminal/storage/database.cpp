// SQLite storage of the trading engine. The database runs in WAL mode with
// full synchronisation, so a committed transaction survives a crash or a
// power cut, and an interrupted one leaves no trace.
#include "terminal/storage/database.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>

#include "link/platform/platform.h"
#include "terminal/storage/rows.h"

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
    // 1 -> 2: commissions; the demo accounts pay theirs from now on.
    "ALTER TABLE accounts ADD COLUMN commission REAL NOT NULL DEFAULT 0;"
    "UPDATE accounts SET commission = 3.5"
    " WHERE login IN (10001, 10002) AND server = 'Quillmark-Demo';",
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kSchemaVersion,
              "one migration for each schema version");

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

// One placeholder per listed column.
std::string insert_sql(const char* table, const char* columns) {
    std::string sql = std::string("INSERT OR REPLACE INTO ") + table + "(" + columns + ") VALUES(?";
    for (const char* c = columns; *c; ++c) {
        if (*c == ',') {
            sql += ",?";
        }
    }
    return sql + ")";
}

bool prepare_statements() {
    statements.put_account = prepare(insert_sql("accounts", kAccountColumns));
    statements.put_position = prepare(insert_sql("positions", kPositionColumns));
    statements.delete_position = prepare("DELETE FROM positions WHERE ticket = ?");
    statements.put_order = prepare(insert_sql("orders", kOrderColumns));
    statements.put_deal = prepare(insert_sql("deals", kDealColumns));
    statements.put_setting = prepare("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)");
    return statements.put_account && statements.put_position && statements.delete_position &&
           statements.put_order && statements.put_deal && statements.put_setting;
}

bool step_done(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return rc == SQLITE_DONE;
}

bool write_account(const Account& a) {
    bind_account(statements.put_account, a);
    return step_done(statements.put_account);
}

bool write_position(const Position& p) {
    bind_position(statements.put_position, p);
    return step_done(statements.put_position);
}

bool delete_position(uint64_t ticket) {
    sqlite3_bind_int64(statements.delete_position, 1, (int64_t)ticket);
    return step_done(statements.delete_position);
}

bool write_order(const Order& o) {
    bind_order(statements.put_order, o);
    return step_done(statements.put_order);
}

bool write_deal(const Deal& d) {
    bind_deal(statements.put_deal, d);
    return step_done(statements.put_deal);
}

bool write_setting(const char* key, int64_t value) {
    sqlite3_stmt* s = statements.put_setting;
    sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, value);
    return step_done(s);
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

sqlite3* storage_handle() {
    return db;
}

void storage_close() {
    finalize_statements();
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
}

bool storage_load(StoredState* out, std::string* error) {
    *out = StoredState{};
    if (!select_rows(std::string("SELECT ") + kAccountColumns + " FROM accounts ORDER BY login",
                     nullptr, 0, read_account, &out->accounts)) {
        return set_error(error, "cannot read the accounts");
    }
    if (!select_rows(std::string("SELECT ") + kPositionColumns + " FROM positions", nullptr, 0,
                     read_position, &out->positions)) {
        return set_error(error, "cannot read the positions");
    }
    if (!select_rows(std::string("SELECT ") + kOrderColumns + " FROM orders WHERE pending = 1",
                     nullptr, 0, read_order, &out->pending_orders)) {
        return set_error(error, "cannot read the pending orders");
    }
    sqlite3_stmt* s = prepare("SELECT key, value FROM settings");
    if (!s) {
        return set_error(error, "cannot read the settings");
    }
    StoredCounters& counters = out->counters;
    while (sqlite3_step(s) == SQLITE_ROW) {
        const char* key = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        int64_t value = sqlite3_column_int64(s, 1);
        if (key && strcmp(key, "next_ticket") == 0) {
            counters.next_ticket = (uint64_t)value;
        } else if (key && strcmp(key, "current_login") == 0) {
            counters.current_login = (uint64_t)value;
        } else if (key && strcmp(key, "rollover_day") == 0) {
            counters.rollover_day = value;
        }
    }
    sqlite3_finalize(s);
    return true;
}

bool storage_write(const Changes& changes, const std::vector<const Account*>& accounts,
                   const StoredCounters& counters) {
    if (!db || !exec("BEGIN IMMEDIATE")) {
        return false;
    }
    bool ok = true;
    for (const Account* account : accounts) {
        ok = ok && write_account(*account);
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
    ok = ok && write_setting("next_ticket", (int64_t)counters.next_ticket);
    ok = ok && write_setting("current_login", (int64_t)counters.current_login);
    ok = ok && write_setting("rollover_day", counters.rollover_day);
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
