// A row-by-row copy that steps over damaged pages: a table is read in rowid
// order, and where a page cannot be read the copy seeks ever further ahead
// for the next readable row, then reads back towards the damage from there,
// so that only the rows of the damaged pages themselves are lost.
#include "terminal/storage/recover.h"

#include <sqlite3.h>

#include <cstdio>
#include <set>
#include <vector>

#include "terminal/storage/database.h"

namespace {

struct Copy {
    sqlite3* in;
    sqlite3* out;
    sqlite3_stmt* insert;
    int columns;
    int64_t copied;
};

std::vector<std::string> column_names(sqlite3* db, const std::string& table) {
    std::vector<std::string> names;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + table + ")").c_str(), -1, &s, nullptr) ==
        SQLITE_OK) {
        while (sqlite3_step(s) == SQLITE_ROW) {
            names.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
        }
    }
    sqlite3_finalize(s);
    return names;
}

// The columns both databases have, so that a database of an older schema
// gives what it holds and the new one's defaults fill the rest.
std::string shared_columns(sqlite3* in, sqlite3* out, const std::string& table, int* count) {
    std::vector<std::string> theirs = column_names(in, table);
    std::set<std::string> ours;
    for (const std::string& name : column_names(out, table)) {
        ours.insert(name);
    }
    std::string list;
    *count = 0;
    for (const std::string& name : theirs) {
        if (ours.count(name)) {
            list += "," + name;
            ++*count;
        }
    }
    return list;
}

// Copies the rows the statement yields until it ends or fails; true when it
// ended.
bool copy_rows(Copy& copy, sqlite3_stmt* select, int64_t* last_rowid) {
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        *last_rowid = sqlite3_column_int64(select, 0);
        for (int i = 0; i <= copy.columns; ++i) {
            sqlite3_bind_value(copy.insert, i + 1, sqlite3_column_value(select, i));
        }
        if (sqlite3_step(copy.insert) == SQLITE_DONE) {
            copy.copied++;
        }
        sqlite3_reset(copy.insert);
    }
    sqlite3_reset(select);
    return rc == SQLITE_DONE;
}

// SQLITE_ROW with the first rowid from `at` on, SQLITE_DONE when there is
// none, or the error that the seek met.
int probe_at(sqlite3_stmt* probe, int64_t at, int64_t* next) {
    sqlite3_bind_int64(probe, 1, at);
    int rc = sqlite3_step(probe);
    if (rc == SQLITE_ROW) {
        *next = sqlite3_column_int64(probe, 0);
    }
    sqlite3_reset(probe);
    return rc;
}

// A readable rowid after `after`: seeks ever further until a seek gets past
// the damage, then, if that one found the end of the table, halves the gap
// between the damage and the end, where rows may still be.
bool next_readable(sqlite3_stmt* probe, int64_t after, int64_t* next) {
    int64_t damaged = after;  // the last seek that failed
    int64_t end = INT64_MAX;  // the first seek that found nothing
    for (int64_t step = 1;; step *= 2) {
        int64_t at = after <= INT64_MAX - step ? after + step : INT64_MAX;
        int rc = probe_at(probe, at, next);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            end = at;
            break;
        }
        damaged = at;
        if (at == INT64_MAX || step > INT64_MAX / 2) {
            return false;
        }
    }
    while (end - damaged > 1) {
        int64_t at = damaged + (end - damaged) / 2;
        int rc = probe_at(probe, at, next);
        if (rc == SQLITE_ROW) {
            return true;
        }
        (rc == SQLITE_DONE ? end : damaged) = at;
    }
    return false;
}

int64_t copy_table(sqlite3* in, sqlite3* out, const std::string& table) {
    Copy copy = {in, out, nullptr, 0, 0};
    std::string columns = shared_columns(in, out, table, &copy.columns);
    if (copy.columns == 0) {
        return 0;
    }
    std::string values = "?";
    for (int i = 0; i < copy.columns; ++i) {
        values += ",?";
    }
    std::string select = "SELECT rowid" + columns + " FROM " + table;
    sqlite3_stmt* forward = nullptr;
    sqlite3_stmt* backward = nullptr;
    sqlite3_stmt* probe = nullptr;
    sqlite3_prepare_v2(
        out,
        ("INSERT OR REPLACE INTO " + table + "(rowid" + columns + ") VALUES(" + values + ")")
            .c_str(),
        -1, &copy.insert, nullptr);
    sqlite3_prepare_v2(in, (select + " WHERE rowid > ?1 ORDER BY rowid").c_str(), -1, &forward,
                       nullptr);
    sqlite3_prepare_v2(in,
                       (select + " WHERE rowid > ?1 AND rowid < ?2 ORDER BY rowid DESC").c_str(),
                       -1, &backward, nullptr);
    sqlite3_prepare_v2(
        in, ("SELECT rowid FROM " + table + " WHERE rowid >= ?1 ORDER BY rowid LIMIT 1").c_str(),
        -1, &probe, nullptr);
    // Every table's rowids are above 0 (tickets, logins, settings), and a
    // seek that doubles its step from 0 reaches the largest of them.
    int64_t after = 0;
    int64_t next = 0;
    if (copy.insert && forward && backward && probe) {
        for (;;) {
            sqlite3_bind_int64(forward, 1, after);
            if (copy_rows(copy, forward, &after) || !next_readable(probe, after, &next)) {
                break;
            }
            int64_t ignored = 0;
            sqlite3_bind_int64(backward, 1, after);
            sqlite3_bind_int64(backward, 2, next);
            copy_rows(copy, backward, &ignored);
            after = next - 1;
            sqlite3_bind_int64(forward, 1, after);
            int64_t before = after;
            if (copy_rows(copy, forward, &after)) {
                break;
            }
            if (after == before) {
                after = next;  // the row found cannot be read whole: past it
            }
        }
    }
    sqlite3_finalize(copy.insert);
    sqlite3_finalize(forward);
    sqlite3_finalize(backward);
    sqlite3_finalize(probe);
    return copy.copied;
}

int schema_version(sqlite3* db) {
    sqlite3_stmt* s = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
        version = sqlite3_column_int(s, 0);
    }
    sqlite3_finalize(s);
    return version;
}

// A ticket counter lost with its page must not hand out tickets that the
// salvaged rows already hold.
void keep_tickets_ahead(sqlite3* out) {
    sqlite3_exec(out,
                 "INSERT OR REPLACE INTO settings(key, value) SELECT 'next_ticket', 1 + max("
                 "(SELECT coalesce(max(value) - 1, 0) FROM settings WHERE key = 'next_ticket'),"
                 "(SELECT coalesce(max(ticket), 0) FROM positions),"
                 "(SELECT coalesce(max(ticket), 0) FROM orders),"
                 "(SELECT coalesce(max(ticket), 0) FROM deals))",
                 nullptr, nullptr, nullptr);
}

void remove_database(const std::string& path) {
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
    std::remove((path + "-shm").c_str());
}

}  // namespace

bool storage_recover(const std::string& damaged, const std::string& into, RecoveredRows* rows,
                     std::string* error) {
    *rows = RecoveredRows{};
    sqlite3* in = nullptr;
    // Read-only: neither a checkpoint nor a rollback may write to the damaged file.
    if (sqlite3_open_v2(damaged.c_str(), &in, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        *error = std::string("cannot open ") + damaged + ": " + sqlite3_errmsg(in);
        sqlite3_close(in);
        return false;
    }
    int version = schema_version(in);
    if (version < 0 || version > kSchemaVersion) {
        *error = version < 0 ? std::string("nothing can be read: ") + sqlite3_errmsg(in)
                             : "a newer version wrote it (schema " + std::to_string(version) +
                                   "); run that version";
        sqlite3_close(in);
        return false;
    }
    remove_database(into);
    if (!storage_open(into, error)) {
        sqlite3_close(in);
        return false;
    }
    storage_close();
    sqlite3* out = nullptr;
    if (sqlite3_open_v2(into.c_str(), &out, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(out, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = std::string("cannot write ") + into + ": " + sqlite3_errmsg(out);
        sqlite3_close(out);
        sqlite3_close(in);
        return false;
    }
    rows->accounts = copy_table(in, out, "accounts");
    rows->positions = copy_table(in, out, "positions");
    rows->orders = copy_table(in, out, "orders");
    rows->deals = copy_table(in, out, "deals");
    rows->settings = copy_table(in, out, "settings");
    keep_tickets_ahead(out);
    bool committed = sqlite3_exec(out, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!committed) {
        *error = std::string("cannot write ") + into + ": " + sqlite3_errmsg(out);
    }
    sqlite3_close(out);
    sqlite3_close(in);
    return committed;
}
