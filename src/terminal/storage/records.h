// The records the account database keeps: accounts, open positions, orders
// and deals, and the changes of one request that are written together.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct AccountSettings {
    uint64_t login;
    std::u16string password;
    std::u16string server;
    std::u16string name;
    std::u16string company;
    std::u16string currency;
    double balance;
    uint32_t leverage;
    uint32_t margin_mode;  // AccountMarginMode
    bool needs_otp;        // login answers -7
    double commission;     // account currency per lot and side, on currency pairs
};

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
