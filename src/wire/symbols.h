// Wire records of the symbol functions. Packed, little-endian; text fields are
// UTF-16 units stored as bytes so that they carry no alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// The wire order is the SymbolInfo order except that name comes last, so that
// terminals older than build 2364 can send the first 2929 bytes alone.
struct SymbolInfoRecord {
    uint8_t custom;
    uint32_t chart_mode;
    uint8_t select;
    uint8_t visible;
    uint64_t session_deals;
    uint64_t session_buy_orders;
    uint64_t session_sell_orders;
    uint64_t volume;
    uint64_t volumehigh;
    uint64_t volumelow;
    int64_t time;
    uint32_t digits;
    int32_t spread;
    uint8_t spread_float;
    uint32_t ticks_bookdepth;
    uint32_t trade_calc_mode;
    uint32_t trade_mode;
    int64_t start_time;
    int64_t expiration_time;
    int32_t trade_stops_level;
    int32_t trade_freeze_level;
    uint32_t trade_exemode;
    uint32_t swap_mode;
    uint32_t swap_rollover3days;
    uint8_t margin_hedged_use_leg;
    int32_t expiration_mode;
    int32_t filling_mode;
    int32_t order_mode;
    uint32_t order_gtc_mode;
    uint32_t option_mode;
    uint32_t option_right;
    double bid;
    double bidhigh;
    double bidlow;
    double ask;
    double askhigh;
    double asklow;
    double last;
    double lasthigh;
    double lastlow;
    double volume_real;
    double volumehigh_real;
    double volumelow_real;
    double option_strike;
    double point;
    double trade_tick_value;
    double trade_tick_value_profit;
    double trade_tick_value_loss;
    double trade_tick_size;
    double trade_contract_size;
    double trade_accrued_interest;
    double trade_face_value;
    double trade_liquidity_rate;
    double volume_min;
    double volume_max;
    double volume_step;
    double volume_limit;
    double swap_long;
    double swap_short;
    double margin_initial;
    double margin_maintenance;
    double session_volume;
    double session_turnover;
    double session_interest;
    double session_buy_orders_volume;
    double session_sell_orders_volume;
    double session_open;
    double session_close;
    double session_aw;
    double session_price_settlement;
    double session_price_limit_min;
    double session_price_limit_max;
    double margin_hedged;
    double price_change;
    double price_volatility;
    double price_theoretical;
    double price_greeks_delta;
    double price_greeks_theta;
    double price_greeks_gamma;
    double price_greeks_vega;
    double price_greeks_rho;
    double price_greeks_omega;
    double price_sensitivity;
    uint8_t basis[64];            // 32 units
    uint8_t category[128];        // 64 units
    uint8_t currency_base[32];    // 16 units
    uint8_t currency_profit[32];  // 16 units
    uint8_t currency_margin[32];  // 16 units
    uint8_t bank[512];            // 256 units
    uint8_t description[128];     // 64 units
    uint8_t exchange[128];        // 64 units
    uint8_t formula[512];         // 256 units
    uint8_t isin[32];             // 16 units
    uint8_t page[512];            // 256 units
    uint8_t path[256];            // 128 units
    uint8_t name[64];             // 32 units
};

struct TickRecord {
    int64_t time;
    double bid;
    double ask;
    double last;
    uint64_t volume;
    int64_t time_msc;
    uint32_t flags;
    double volume_real;
};

#pragma pack(pop)

// What a terminal older than build 2364 sends: everything before name.
constexpr size_t kSymbolInfoShortSize = 2929;

static_assert(sizeof(SymbolInfoRecord) == 2993, "symbol record size");
static_assert(offsetof(SymbolInfoRecord, custom) == 0, "");
static_assert(offsetof(SymbolInfoRecord, chart_mode) == 1, "");
static_assert(offsetof(SymbolInfoRecord, select) == 5, "");
static_assert(offsetof(SymbolInfoRecord, visible) == 6, "");
static_assert(offsetof(SymbolInfoRecord, session_deals) == 7, "");
static_assert(offsetof(SymbolInfoRecord, session_buy_orders) == 15, "");
static_assert(offsetof(SymbolInfoRecord, session_sell_orders) == 23, "");
static_assert(offsetof(SymbolInfoRecord, volume) == 31, "");
static_assert(offsetof(SymbolInfoRecord, volumehigh) == 39, "");
static_assert(offsetof(SymbolInfoRecord, volumelow) == 47, "");
static_assert(offsetof(SymbolInfoRecord, time) == 55, "");
static_assert(offsetof(SymbolInfoRecord, digits) == 63, "");
static_assert(offsetof(SymbolInfoRecord, spread) == 67, "");
static_assert(offsetof(SymbolInfoRecord, spread_float) == 71, "");
static_assert(offsetof(SymbolInfoRecord, ticks_bookdepth) == 72, "");
static_assert(offsetof(SymbolInfoRecord, trade_calc_mode) == 76, "");
static_assert(offsetof(SymbolInfoRecord, trade_mode) == 80, "");
static_assert(offsetof(SymbolInfoRecord, start_time) == 84, "");
static_assert(offsetof(SymbolInfoRecord, expiration_time) == 92, "");
static_assert(offsetof(SymbolInfoRecord, trade_stops_level) == 100, "");
static_assert(offsetof(SymbolInfoRecord, trade_freeze_level) == 104, "");
static_assert(offsetof(SymbolInfoRecord, trade_exemode) == 108, "");
static_assert(offsetof(SymbolInfoRecord, swap_mode) == 112, "");
static_assert(offsetof(SymbolInfoRecord, swap_rollover3days) == 116, "");
static_assert(offsetof(SymbolInfoRecord, margin_hedged_use_leg) == 120, "");
static_assert(offsetof(SymbolInfoRecord, expiration_mode) == 121, "");
static_assert(offsetof(SymbolInfoRecord, filling_mode) == 125, "");
static_assert(offsetof(SymbolInfoRecord, order_mode) == 129, "");
static_assert(offsetof(SymbolInfoRecord, order_gtc_mode) == 133, "");
static_assert(offsetof(SymbolInfoRecord, option_mode) == 137, "");
static_assert(offsetof(SymbolInfoRecord, option_right) == 141, "");
static_assert(offsetof(SymbolInfoRecord, bid) == 145, "");
static_assert(offsetof(SymbolInfoRecord, bidhigh) == 153, "");
static_assert(offsetof(SymbolInfoRecord, bidlow) == 161, "");
static_assert(offsetof(SymbolInfoRecord, ask) == 169, "");
static_assert(offsetof(SymbolInfoRecord, askhigh) == 177, "");
static_assert(offsetof(SymbolInfoRecord, asklow) == 185, "");
static_assert(offsetof(SymbolInfoRecord, last) == 193, "");
static_assert(offsetof(SymbolInfoRecord, lasthigh) == 201, "");
static_assert(offsetof(SymbolInfoRecord, lastlow) == 209, "");
static_assert(offsetof(SymbolInfoRecord, volume_real) == 217, "");
static_assert(offsetof(SymbolInfoRecord, volumehigh_real) == 225, "");
static_assert(offsetof(SymbolInfoRecord, volumelow_real) == 233, "");
static_assert(offsetof(SymbolInfoRecord, option_strike) == 241, "");
static_assert(offsetof(SymbolInfoRecord, point) == 249, "");
static_assert(offsetof(SymbolInfoRecord, trade_tick_value) == 257, "");
static_assert(offsetof(SymbolInfoRecord, trade_tick_value_profit) == 265, "");
static_assert(offsetof(SymbolInfoRecord, trade_tick_value_loss) == 273, "");
static_assert(offsetof(SymbolInfoRecord, trade_tick_size) == 281, "");
static_assert(offsetof(SymbolInfoRecord, trade_contract_size) == 289, "");
static_assert(offsetof(SymbolInfoRecord, trade_accrued_interest) == 297, "");
static_assert(offsetof(SymbolInfoRecord, trade_face_value) == 305, "");
static_assert(offsetof(SymbolInfoRecord, trade_liquidity_rate) == 313, "");
static_assert(offsetof(SymbolInfoRecord, volume_min) == 321, "");
static_assert(offsetof(SymbolInfoRecord, volume_max) == 329, "");
static_assert(offsetof(SymbolInfoRecord, volume_step) == 337, "");
static_assert(offsetof(SymbolInfoRecord, volume_limit) == 345, "");
static_assert(offsetof(SymbolInfoRecord, swap_long) == 353, "");
static_assert(offsetof(SymbolInfoRecord, swap_short) == 361, "");
static_assert(offsetof(SymbolInfoRecord, margin_initial) == 369, "");
static_assert(offsetof(SymbolInfoRecord, margin_maintenance) == 377, "");
static_assert(offsetof(SymbolInfoRecord, session_volume) == 385, "");
static_assert(offsetof(SymbolInfoRecord, session_turnover) == 393, "");
static_assert(offsetof(SymbolInfoRecord, session_interest) == 401, "");
static_assert(offsetof(SymbolInfoRecord, session_buy_orders_volume) == 409, "");
static_assert(offsetof(SymbolInfoRecord, session_sell_orders_volume) == 417, "");
static_assert(offsetof(SymbolInfoRecord, session_open) == 425, "");
static_assert(offsetof(SymbolInfoRecord, session_close) == 433, "");
static_assert(offsetof(SymbolInfoRecord, session_aw) == 441, "");
static_assert(offsetof(SymbolInfoRecord, session_price_settlement) == 449, "");
static_assert(offsetof(SymbolInfoRecord, session_price_limit_min) == 457, "");
static_assert(offsetof(SymbolInfoRecord, session_price_limit_max) == 465, "");
static_assert(offsetof(SymbolInfoRecord, margin_hedged) == 473, "");
static_assert(offsetof(SymbolInfoRecord, price_change) == 481, "");
static_assert(offsetof(SymbolInfoRecord, price_volatility) == 489, "");
static_assert(offsetof(SymbolInfoRecord, price_theoretical) == 497, "");
static_assert(offsetof(SymbolInfoRecord, price_greeks_delta) == 505, "");
static_assert(offsetof(SymbolInfoRecord, price_greeks_theta) == 513, "");
static_assert(offsetof(SymbolInfoRecord, price_greeks_gamma) == 521, "");
static_assert(offsetof(SymbolInfoRecord, price_greeks_vega) == 529, "");
static_assert(offsetof(SymbolInfoRecord, price_greeks_rho) == 537, "");
static_assert(offsetof(SymbolInfoRecord, price_greeks_omega) == 545, "");
static_assert(offsetof(SymbolInfoRecord, price_sensitivity) == 553, "");
static_assert(offsetof(SymbolInfoRecord, basis) == 561, "");
static_assert(offsetof(SymbolInfoRecord, category) == 625, "");
static_assert(offsetof(SymbolInfoRecord, currency_base) == 753, "");
static_assert(offsetof(SymbolInfoRecord, currency_profit) == 785, "");
static_assert(offsetof(SymbolInfoRecord, currency_margin) == 817, "");
static_assert(offsetof(SymbolInfoRecord, bank) == 849, "");
static_assert(offsetof(SymbolInfoRecord, description) == 1361, "");
static_assert(offsetof(SymbolInfoRecord, exchange) == 1489, "");
static_assert(offsetof(SymbolInfoRecord, formula) == 1617, "");
static_assert(offsetof(SymbolInfoRecord, isin) == 2129, "");
static_assert(offsetof(SymbolInfoRecord, page) == 2161, "");
static_assert(offsetof(SymbolInfoRecord, path) == 2673, "");
static_assert(offsetof(SymbolInfoRecord, name) == 2929, "");
static_assert(offsetof(SymbolInfoRecord, name) == kSymbolInfoShortSize, "");

static_assert(sizeof(TickRecord) == 60, "tick record size");
static_assert(offsetof(TickRecord, time) == 0, "");
static_assert(offsetof(TickRecord, bid) == 8, "");
static_assert(offsetof(TickRecord, ask) == 16, "");
static_assert(offsetof(TickRecord, last) == 24, "");
static_assert(offsetof(TickRecord, volume) == 32, "");
static_assert(offsetof(TickRecord, time_msc) == 40, "");
static_assert(offsetof(TickRecord, flags) == 48, "");
static_assert(offsetof(TickRecord, volume_real) == 52, "");
