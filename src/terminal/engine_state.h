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

#include "terminal/engine.h"

struct Account {
    AccountSettings settings;  // settings.balance is the current balance; no password
    std::string password_digest;
    double credit;
    double margin_so_call;
    double margin_so_so;
    uint32_t limit_orders;
    bool trade_allowed;
    bool trade_expert;
};

struct Position {
    uint64_t ticket;  // also its identifier: the ticket of the order that opened it
    uint64_t login;
    std::u16string symbol;
    uint32_t type;  // PositionType
    double volume;
    double price_open;
    double sl;
    double tp;
    double swap;
    int64_t time_msc;
    int64_t time_update_msc;
    uint64_t magic;
    uint32_t reason;
    std::u16string comment;
};

struct Order {
    uint64_t ticket;
    uint64_t login;
    std::u16string symbol;
    uint32_t type;  // OrderType
    uint32_t type_time;
    uint32_t type_filling;
    uint32_t state;
    double volume_initial;
    double volume_current;
    double price_open;
    double price_stoplimit;
    double price_current;  // the fill price once done
    double sl;
    double tp;
    int64_t time_setup_msc;
    int64_t time_done_msc;
    int64_t time_expiration;  // seconds, as requested
    uint64_t magic;
    uint64_t position_id;
    uint64_t position_by_id;
    uint32_t reason;
    std::u16string comment;
};

struct Deal {
    uint64_t ticket;
    uint64_t login;
    uint64_t order;
    int64_t time_msc;
    uint32_t type;
    uint32_t entry;
    uint64_t magic;
    uint64_t position_id;
    uint32_t reason;
    double volume;
    double price;
    double commission;
    double swap;
    double profit;
    double fee;
    std::u16string symbol;
    std::u16string comment;
};

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

// What one request changed, to be written in one transaction. A later change
// of the same ticket replaces an earlier one.
struct Changes {
    std::map<uint64_t, Position> positions_put;
    std::set<uint64_t> positions_deleted;
    std::map<uint64_t, Order> orders_put;  // pending or finished
    std::vector<Deal> deals;
    std::set<uint64_t> accounts;  // logins whose account row changed
    bool rollover = false;        // the rollover day moved
    bool empty() const {
        return positions_put.empty() && positions_deleted.empty() && orders_put.empty() &&
               deals.empty() && accounts.empty() && !rollover;
    }
};

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
