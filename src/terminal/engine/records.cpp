// Reads: open positions and pending orders from memory, history from the
// database, as wire records.
#include "terminal/engine/calc.h"
#include "terminal/engine/state.h"
#include "terminal/market/calendar.h"
#include "terminal/storage/database.h"
#include "wire/enums.h"
#include "wire/fields.h"
#include "wire/status.h"

namespace {

// Seconds of a millisecond time, rounding towards the past.
int64_t seconds(int64_t msc) {
    return floor_div(msc, 1000);
}

void position_record(const Position& p, SymbolCache* cache, TradePositionRecord* r) {
    *r = TradePositionRecord{};
    r->ticket = p.ticket;
    r->time = seconds(p.time_msc);
    r->time_msc = p.time_msc;
    r->time_update = seconds(p.time_update_msc);
    r->time_update_msc = p.time_update_msc;
    r->type = p.type;
    r->magic = p.magic;
    r->identifier = p.ticket;
    r->reason = p.reason;
    r->volume = p.volume;
    r->price_open = p.price_open;
    r->sl = p.sl;
    r->tp = p.tp;
    r->swap = p.swap;
    const SymbolCalc* calc = cached_symbol(cache, p.symbol);
    if (calc) {
        r->profit = money(position_profit(p, *calc, &r->price_current));
    }
    FIELD_PUT(r->symbol, p.symbol.c_str());
    FIELD_PUT(r->comment, p.comment.c_str());
}

void order_record(const Order& o, SymbolCache* cache, TradeOrderRecord* r) {
    *r = TradeOrderRecord{};
    r->ticket = o.ticket;
    r->time_setup = seconds(o.time_setup_msc);
    r->time_setup_msc = o.time_setup_msc;
    r->time_done = seconds(o.time_done_msc);
    r->time_done_msc = o.time_done_msc;
    r->time_expiration = o.time_expiration;
    r->type = o.type;
    r->type_time = o.type_time;
    r->type_filling = o.type_filling;
    r->state = o.state;
    r->magic = o.magic;
    r->position_id = o.position_id;
    r->position_by_id = o.position_by_id;
    r->reason = o.reason;
    r->volume_initial = o.volume_initial;
    r->volume_current = o.volume_current;
    r->price_open = o.price_open;
    r->sl = o.sl;
    r->tp = o.tp;
    r->price_current = o.price_current;
    r->price_stoplimit = o.price_stoplimit;
    // A pending order shows the price it waits for: the ask for a buy, the bid for a sell.
    const SymbolCalc* calc = cache ? cached_symbol(cache, o.symbol) : nullptr;
    if (calc) {
        r->price_current = is_buy(o.type) ? calc->ask : calc->bid;
    }
    FIELD_PUT(r->symbol, o.symbol.c_str());
    FIELD_PUT(r->comment, o.comment.c_str());
}

void deal_record(const Deal& d, TradeDealRecord* r) {
    *r = TradeDealRecord{};
    r->ticket = d.ticket;
    r->order = d.order;
    r->time = seconds(d.time_msc);
    r->time_msc = d.time_msc;
    r->type = d.type;
    r->entry = d.entry;
    r->magic = d.magic;
    r->position_id = d.position_id;
    r->reason = d.reason;
    r->volume = d.volume;
    r->price = d.price;
    r->commission = d.commission;
    r->swap = d.swap;
    r->profit = d.profit;
    r->fee = d.fee;
    FIELD_PUT(r->symbol, d.symbol.c_str());
    FIELD_PUT(r->comment, d.comment.c_str());
}

uint64_t current_login() {
    Book* book = current_book();
    return book ? book->account.settings.login : 0;
}

// The range of whole seconds from..to in milliseconds. A client may send any
// 64-bit time: one beyond what milliseconds can hold is clamped, not wrapped.
constexpr int64_t kLargestSeconds = INT64_MAX / 1000 - 1;
int64_t clamp_seconds(int64_t value) {
    return value < -kLargestSeconds ? -kLargestSeconds
                                    : (value > kLargestSeconds ? kLargestSeconds : value);
}
int64_t range_start(int64_t from) {
    return clamp_seconds(from) * 1000;
}
int64_t range_end(int64_t to) {
    return clamp_seconds(to) * 1000 + 999;
}

void history_orders(const std::vector<Order>& orders, std::vector<TradeOrderRecord>* out) {
    out->resize(orders.size());
    for (size_t i = 0; i < orders.size(); ++i) {
        order_record(orders[i], nullptr, &(*out)[i]);
    }
}

void history_deals(const std::vector<Deal>& deals, std::vector<TradeDealRecord>* out) {
    out->resize(deals.size());
    for (size_t i = 0; i < deals.size(); ++i) {
        deal_record(deals[i], &(*out)[i]);
    }
}

}  // namespace

uint32_t engine_positions_total() {
    Book* book = current_book();
    return book ? (uint32_t)book->positions.size() : 0;
}

uint32_t engine_positions_count(const char16_t* symbol) {
    Book* book = current_book();
    if (!book || !symbol) {
        return book ? (uint32_t)book->positions.size() : 0;
    }
    uint32_t count = 0;
    for (const Position* p : positions_in_order(*book)) {
        count += p->symbol == symbol ? 1 : 0;
    }
    return count;
}

size_t engine_positions_fill(const char16_t* symbol, TradePositionRecord* out, size_t room) {
    Book* book = current_book();
    if (!book) {
        return 0;
    }
    SymbolCache cache{book->account.settings.currency, {}};
    size_t count = 0;
    for (const Position* p : positions_in_order(*book)) {
        if (count == room) {
            break;
        }
        if (symbol && p->symbol != symbol) {
            continue;
        }
        position_record(*p, &cache, &out[count]);
        count++;
    }
    return count;
}

void engine_positions(const char16_t* symbol, std::vector<TradePositionRecord>* out) {
    out->resize(engine_positions_count(symbol));
    out->resize(engine_positions_fill(symbol, out->data(), out->size()));
}

bool engine_position(uint64_t ticket, TradePositionRecord* out) {
    Book* book = current_book();
    if (!book || book->positions.find(ticket) == book->positions.end()) {
        return false;
    }
    SymbolCache cache{book->account.settings.currency, {}};
    position_record(book->positions.at(ticket), &cache, out);
    return true;
}

uint32_t engine_orders_total() {
    Book* book = current_book();
    return book ? (uint32_t)book->orders.size() : 0;
}

void engine_orders(const char16_t* symbol, std::vector<TradeOrderRecord>* out) {
    out->clear();
    Book* book = current_book();
    if (!book) {
        return;
    }
    SymbolCache cache{book->account.settings.currency, {}};
    for (const auto& entry : book->orders) {
        if (symbol && entry.second.symbol != symbol) {
            continue;
        }
        out->emplace_back();
        order_record(entry.second, &cache, &out->back());
    }
}

bool engine_order(uint64_t ticket, TradeOrderRecord* out) {
    Book* book = current_book();
    if (!book || book->orders.find(ticket) == book->orders.end()) {
        return false;
    }
    SymbolCache cache{book->account.settings.currency, {}};
    order_record(book->orders.at(ticket), &cache, out);
    return true;
}

// A ticket's lookup: failed when the database could not be read.
template <typename Row>
static int32_t lookup_status(bool read, const std::vector<Row>& found) {
    if (!read) {
        return kStatusCallFailed;
    }
    return found.empty() ? kStatusNotFound : kStatusSuccess;
}

// The records of a history list, or the failure to read it.
template <typename Row, typename Record>
static int32_t history_list(bool read, const std::vector<Row>& rows,
                            void (*convert)(const std::vector<Row>&, std::vector<Record>*),
                            std::vector<Record>* out) {
    if (!read) {
        return kStatusCallFailed;
    }
    convert(rows, out);
    return kStatusOk;
}

int32_t engine_history_orders(int64_t from, int64_t to, std::vector<TradeOrderRecord>* out) {
    std::vector<Order> orders;
    bool read = storage_history_orders(current_login(), range_start(from), range_end(to), &orders);
    return history_list(read, orders, history_orders, out);
}

int32_t engine_history_orders_by_position(uint64_t position, std::vector<TradeOrderRecord>* out) {
    std::vector<Order> orders;
    bool read = storage_history_orders_by_position(current_login(), position, &orders);
    return history_list(read, orders, history_orders, out);
}

int32_t engine_history_order(uint64_t ticket, TradeOrderRecord* out) {
    std::vector<Order> found;
    int32_t status = lookup_status(storage_history_order(current_login(), ticket, &found), found);
    if (status == kStatusSuccess) {
        order_record(found[0], nullptr, out);
    }
    return status;
}

int32_t engine_history_deals(int64_t from, int64_t to, std::vector<TradeDealRecord>* out) {
    std::vector<Deal> deals;
    bool read = storage_deals(current_login(), range_start(from), range_end(to), &deals);
    return history_list(read, deals, history_deals, out);
}

int32_t engine_history_deals_by_position(uint64_t position, std::vector<TradeDealRecord>* out) {
    std::vector<Deal> deals;
    bool read = storage_deals_by_position(current_login(), position, &deals);
    return history_list(read, deals, history_deals, out);
}

int32_t engine_history_deal(uint64_t ticket, TradeDealRecord* out) {
    std::vector<Deal> found;
    int32_t status = lookup_status(storage_deal(current_login(), ticket, &found), found);
    if (status == kStatusSuccess) {
        deal_record(found[0], out);
    }
    return status;
}
