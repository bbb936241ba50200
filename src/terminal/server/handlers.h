// The request handlers, by group of commands, and the connection to the
// simulated trade server that they report.
#pragma once

#include <cstdint>

#include "terminal/server/session.h"

struct RequestReader;
class ReplyWriter;

// One command's handler: reads the request from `in` and finishes exactly one
// reply. Handlers of several commands tell them apart by `command`.
typedef void (*Handler)(Session& session, uint32_t command, RequestReader& in, ReplyWriter& reply);

// The symbol a request names; null after replying that the request is not
// `well_formed` or that no symbol has that name.
struct Symbol;
Symbol* known_symbol(const char16_t* name, bool well_formed, ReplyWriter& reply);

// Connection, information and the test controls (handlers_connection.cpp).
void serve_handshake(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_version(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_login(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_ready_state(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_terminal_info(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_account_info(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_set_price(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_run_rollover(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);

// Symbols, prices, bars, ticks and depth (handlers_market.cpp).
void serve_symbol_info(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_symbol_select(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_symbol_tick(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_symbols_total(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_symbols_get(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);
void serve_depth_add(Session& session, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_depth_release(Session& session, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_depth_get(Session& session, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_ticks_query(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);
void serve_rates_query(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);

// Positions, orders, history, checks, sends and calculations
// (handlers_trading.cpp).
void serve_positions_total(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_positions_get(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);
void serve_position_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_orders_total(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_orders_get(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);
void serve_order_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_history_orders_range(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);
void serve_history_orders_by_position(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_history_order_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_history_deals_range(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);
void serve_history_deals_by_position(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_history_deal_by_ticket(Session&, uint32_t, RequestReader& in, ReplyWriter& reply);
void serve_trade_request(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);
void serve_calculation(Session&, uint32_t command, RequestReader& in, ReplyWriter& reply);

// Connection to the (simulated) trade server: connecting for a moment after
// start and after each login, then ready, or refused after a bad password.
void connection_start(int64_t now_msc);
uint32_t connection_state(int64_t now_msc);

// A test-only command (enabled by --test-controls): u16 text symbol, f64 bid,
// f64 ask; forces the symbol's prices from now on, bid = ask = 0 releases it.
constexpr uint32_t kCmdTestSetPrice = 60001;
// A test-only command (--test-controls): i64 time in milliseconds since 1970;
// charges the swaps of every midnight up to that time as if the clock had
// reached it, and answers the u32 count of midnights passed. Real time then
// charges nothing until it passes that day.
constexpr uint32_t kCmdTestRollover = 60002;
