// The engine's records as table rows. Unsigned 64-bit values (tickets,
// magic numbers) are kept bit for bit in SQLite's signed integers, texts as
// UTF-16.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/storage/records.h"

// The columns of each table, in the order of the bind and read functions.
extern const char kAccountColumns[];
extern const char kPositionColumns[];
extern const char kOrderColumns[];
extern const char kDealColumns[];

void bind_account(sqlite3_stmt* s, const Account& a);
void bind_position(sqlite3_stmt* s, const Position& p);
void bind_order(sqlite3_stmt* s, const Order& o);
void bind_deal(sqlite3_stmt* s, const Deal& d);

Account read_account(sqlite3_stmt* s);
Position read_position(sqlite3_stmt* s);
Order read_order(sqlite3_stmt* s);
Deal read_deal(sqlite3_stmt* s);

// The open database, for the history queries.
sqlite3* storage_handle();

// Runs a query with integer parameters and reads every row into `out`.
// False when SQLite fails at any step: `out` may then hold only part of the
// answer, which must not be taken for the whole.
template <typename T>
bool select_rows(const std::string& sql, const int64_t* args, int count, T (*read)(sqlite3_stmt*),
                 std::vector<T>* out) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(storage_handle(), sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        sqlite3_bind_int64(s, i + 1, args[i]);
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(s)) == SQLITE_ROW) {
        out->push_back(read(s));
    }
    sqlite3_finalize(s);
    return step == SQLITE_DONE;
}
