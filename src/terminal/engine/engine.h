// The account, its trading and its durable storage. The server calls these
// functions for the account and trading commands; all state lives in one
// SQLite database and a request is answered only after its effects are
// committed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/storage/records.h"
#include "wire/history.h"
#include "wire/positions.h"
#include "wire/status.h"
#include "wire/terminal.h"
#include "wire/trade.h"

// Opens the database (creating and migrating it as needed); on first use it
// also creates the demo accounts 10001 (hedging) and 10002 (netting), each
// with password "demo" on server "Quillmark-Demo", 10000 USD at 1:100 and a
// commission of 3.5 USD per lot and side. Then charges the swaps of the
// midnights that passed since the database was last open. False with a
// reason on failure.
bool engine_open(const std::string& database_path, std::string* error);
void engine_close();

// Adds or replaces an account (from the command line), after engine_open. A
// new account gets its balance as a deposit deal; a known one keeps its
// balance and trades and takes the new settings.
bool engine_add_account(const AccountSettings& account, std::string* error);

// Opens positions of the smallest volume, buys and sells in turn over a few
// major symbols, until the current account holds `count`, in one
// transaction, and deposits what keeps the margin level at 1000%: a fixture
// for benchmarks (the terminal's --positions N). Needs a hedging account.
bool engine_open_test_positions(uint32_t count, std::string* error);

enum LoginResult { kLoginAccepted, kLoginRejected, kLoginNeedsOtp };
// Switches the current account; login 0 means the current one. An empty
// password is the one saved for the account, an empty server any server.
LoginResult engine_login(uint64_t login, const char16_t* password, const char16_t* server);

void engine_account_info(AccountInfoRecord* record);

// Prices moved: pending orders trigger, stops and stop-out close positions,
// orders expire, and each midnight passed charges the day's swaps. Called by
// the server loop after each market step.
void engine_update(int64_t now_msc);

// Charges the swaps of every midnight (UTC, the server's time) up to
// `now_msc` that has not been charged yet, and commits them. A time before
// the last rollover does nothing. Returns the number of midnights passed.
int64_t engine_rollover(int64_t now_msc);

// Each returns a status for the reply header (0 or positive on success,
// a negative terminal status otherwise) and fills its record. A trade request
// that is answered, refused or not, has status 0 and its retcode in the
// record. The calculations give -4 for an unknown symbol, -2 for an action
// that is not an order type or a volume or price that is not a finite
// number, and -1 when no symbol converts into the account currency.
int32_t engine_order_check(const TradeRequestRecord& request, OrderCheckRecord* result);
int32_t engine_order_send(const TradeRequestRecord& request, OrderSendRecord* result);
int32_t engine_calc_margin(uint32_t action, const char16_t* symbol, double volume, double price,
                           double* margin);
int32_t engine_calc_profit(uint32_t action, const char16_t* symbol, double volume,
                           double price_open, double price_close, double* profit);

// Open positions and pending orders; symbol null means all.
uint32_t engine_positions_total();
void engine_positions(const char16_t* symbol, std::vector<TradePositionRecord>* out);
// The same records written in place, for a reply made without a copy:
// `out` has room for engine_positions_count(symbol) records; returns how
// many were written.
uint32_t engine_positions_count(const char16_t* symbol);
size_t engine_positions_fill(const char16_t* symbol, TradePositionRecord* out, size_t room);
bool engine_position(uint64_t ticket, TradePositionRecord* out);
uint32_t engine_orders_total();
void engine_orders(const char16_t* symbol, std::vector<TradeOrderRecord>* out);
bool engine_order(uint64_t ticket, TradeOrderRecord* out);

// History by time range (seconds, inclusive), by position id and by ticket.
// Each returns the reply's status: kStatusOk for a list, kStatusSuccess or
// kStatusNotFound for a ticket, kStatusCallFailed when the database cannot
// be read.
int32_t engine_history_orders(int64_t from, int64_t to, std::vector<TradeOrderRecord>* out);
int32_t engine_history_orders_by_position(uint64_t position, std::vector<TradeOrderRecord>* out);
int32_t engine_history_order(uint64_t ticket, TradeOrderRecord* out);
int32_t engine_history_deals(int64_t from, int64_t to, std::vector<TradeDealRecord>* out);
int32_t engine_history_deals_by_position(uint64_t position, std::vector<TradeDealRecord>* out);
int32_t engine_history_deal(uint64_t ticket, TradeDealRecord* out);
