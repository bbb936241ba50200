// The engine's SQLite database: accounts, positions, orders, deals and the
// ticket counter. Writes happen only through storage_write, one transaction
// for each request; reads of history go straight to the database.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/storage/records.h"

// The schema version this build writes; older databases are migrated on open.
constexpr int kSchemaVersion = 2;

bool storage_open(const std::string& path, std::string* error);
void storage_close();

// The counters kept beside the records.
struct StoredCounters {
    uint64_t next_ticket;
    uint64_t current_login;
    int64_t rollover_day;  // days since 1970 of the last midnight whose swaps are charged
};

// Everything but history: every account, open position and pending order,
// and the counters.
struct StoredState {
    std::vector<Account> accounts;
    std::vector<Position> positions;
    std::vector<Order> pending_orders;
    StoredCounters counters;
};

// Reads the stored state. False when the database cannot be read.
bool storage_load(StoredState* out, std::string* error);

// Writes the changes, the rows of the accounts they name and the counters in
// one committed transaction.
bool storage_write(const Changes& changes, const std::vector<const Account*>& accounts,
                   const StoredCounters& counters);

// A password is kept only as a salted digest.
std::string password_digest(uint64_t login, const std::u16string& password);

// History of one account. Times are milliseconds, both ends included; a
// ticket's lookup finds no row or one. False when the database cannot be
// read.
bool storage_history_orders(uint64_t login, int64_t from_msc, int64_t to_msc,
                            std::vector<Order>* out);
bool storage_history_orders_by_position(uint64_t login, uint64_t position, std::vector<Order>* out);
bool storage_history_order(uint64_t login, uint64_t ticket, std::vector<Order>* out);
bool storage_deals(uint64_t login, int64_t from_msc, int64_t to_msc, std::vector<Deal>* out);
bool storage_deals_by_position(uint64_t login, uint64_t position, std::vector<Deal>* out);
bool storage_deal(uint64_t login, uint64_t ticket, std::vector<Deal>* out);
