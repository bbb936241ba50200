// The trading engine's in-memory state: every account with its open positions
// and pending orders. History orders and deals live only in the database.
// Changes made while serving one request are gathered in a Changes list and
// written in one transaction.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "terminal/engine/engine.h"
#include "terminal/storage/records.h"

struct Book {
    Account account;
    std::map<uint64_t, Position> positions;  // by ticket, so in opening order
    std::map<uint64_t, Order> orders;        // pending orders only
    // The same positions in ticket order as an array, far cheaper to walk
    // than the tree for a reply of 100,000 of them; see positions_in_order.
    mutable std::vector<const Position*> position_list;
    mutable bool position_list_stale = true;
};

struct Engine {
    bool open;
    std::map<uint64_t, Book> books;  // by login
    uint64_t current_login;
    uint64_t next_ticket;  // one sequence for orders, deals and positions
    uint32_t next_request_id;
    std::chrono::steady_clock::time_point next_update;  // see engine_update
    int64_t rollover_day;  // days since 1970 of the last midnight whose swaps are charged
};

extern Engine g_engine;

void change_position(Changes* changes, const Position& position);
void change_position_deleted(Changes* changes, uint64_t ticket);
void change_order(Changes* changes, const Order& order);

// The open positions of a book in ticket order. Whatever adds or removes a
// position calls positions_changed; changing one in place needs nothing.
const std::vector<const Position*>& positions_in_order(const Book& book);
void positions_changed(Book* book);

uint64_t take_ticket();
// A balance deal that pays `amount` into the account, with a new ticket.
Deal deposit_deal(uint64_t login, double amount, int64_t now_msc);
Book* current_book();
Book* find_book(uint64_t login);

// Charges the swaps of the midnights passed since the last rollover into
// `changes`; returns how many passed. The first call only starts the count.
int64_t rollover(int64_t now_msc, Changes* changes);

// Writes the changes and the ticket counter in one transaction. On failure
// the in-memory state is reloaded from the database, so that it never shows
// what was not stored.
bool commit_changes(const Changes& changes);
