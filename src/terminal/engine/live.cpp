// The account between requests: as prices move, pending orders expire or
// trigger, stops close positions, and stop-out closes the most losing
// positions until the margin level recovers. Everything one step changes is
// committed in one transaction.
#include <chrono>
#include <cstdio>
#include <unordered_map>

#include "terminal/engine/calc.h"
#include "terminal/engine/exec.h"
#include "terminal/engine/rules.h"
#include "terminal/engine/state.h"
#include "terminal/market/market.h"
#include "wire/enums.h"
#include "wire/text.h"

namespace {

constexpr size_t kLargeBook = 10000;

struct Step {
    Book* book;
    Changes* changes;
    int64_t now_msc;
    SymbolCache cache;
    std::unordered_map<std::u16string, bool> open;
};

bool symbol_open(Step* step, const std::u16string& symbol) {
    auto found = step->open.find(symbol);
    if (found != step->open.end()) {
        return found->second;
    }
    bool open = market_open(symbol.c_str(), step->now_msc);
    step->open.emplace(symbol, open);
    return open;
}

bool is_triggered(const Order& o, const SymbolCalc& calc) {
    switch (o.type) {
        case kOrderTypeBuyLimit:
            return calc.ask > 0 && calc.ask <= o.price_open;
        case kOrderTypeSellLimit:
            return calc.bid > 0 && calc.bid >= o.price_open;
        case kOrderTypeBuyStop:
        case kOrderTypeBuyStopLimit:
            return calc.ask > 0 && calc.ask >= o.price_open;
        case kOrderTypeSellStop:
        case kOrderTypeSellStopLimit:
            return calc.bid > 0 && calc.bid <= o.price_open;
        default:
            return false;
    }
}

// A triggered stop-limit order is done; a limit order at its limit price
// takes its place.
void place_limit(Step* step, uint64_t ticket) {
    Order limit = step->book->orders.at(ticket);
    finish_pending(step->book, step->changes, ticket, kOrderStateFilled, step->now_msc);
    limit.ticket = take_ticket();
    limit.type = limit.type == kOrderTypeBuyStopLimit ? kOrderTypeBuyLimit : kOrderTypeSellLimit;
    limit.price_open = limit.price_stoplimit;
    limit.price_stoplimit = 0;
    limit.time_setup_msc = step->now_msc;
    limit.state = kOrderStatePlaced;
    step->book->orders[limit.ticket] = limit;
    change_order(step->changes, limit);
}

// Fills a triggered order, or rejects it when the account cannot carry it.
void fill_triggered(Step* step, uint64_t ticket, const SymbolCalc& calc) {
    Book* book = step->book;
    Order order = book->orders.at(ticket);
    double price = is_buy(order.type) ? calc.ask : calc.bid;
    Figures before = book_figures(*book);
    Snapshot snapshot = take_snapshot(*book, order.symbol);
    Changes fill;
    book->orders.erase(ticket);
    fill_order(book, &fill, order, price, step->now_msc);
    Figures after = book_figures(*book);
    if (!money_suffices(before, after)) {
        restore_snapshot(book, snapshot);
        finish_pending(book, step->changes, ticket, kOrderStateRejected, step->now_msc);
        return;
    }
    for (const auto& p : fill.positions_put) {
        change_position(step->changes, p.second);
    }
    for (uint64_t t : fill.positions_deleted) {
        change_position_deleted(step->changes, t);
    }
    for (const auto& o : fill.orders_put) {
        change_order(step->changes, o.second);
    }
    step->changes->deals.insert(step->changes->deals.end(), fill.deals.begin(), fill.deals.end());
    step->changes->accounts.insert(fill.accounts.begin(), fill.accounts.end());
}

void run_orders(Step* step) {
    std::vector<uint64_t> tickets;
    for (const auto& entry : step->book->orders) {
        tickets.push_back(entry.first);
    }
    for (uint64_t ticket : tickets) {
        auto found = step->book->orders.find(ticket);
        if (found == step->book->orders.end()) {
            continue;
        }
        const Order& o = found->second;
        int64_t expiry = order_expiry_msc(o.type_time, o.time_expiration, o.time_setup_msc);
        if (expiry != 0 && step->now_msc >= expiry) {
            finish_pending(step->book, step->changes, ticket, kOrderStateExpired, step->now_msc);
            continue;
        }
        const SymbolCalc* calc = cached_symbol(&step->cache, o.symbol);
        if (!calc || !symbol_open(step, o.symbol) || !is_triggered(o, *calc)) {
            continue;
        }
        if (is_stop_limit(o.type)) {
            place_limit(step, ticket);
        } else {
            fill_triggered(step, ticket, *calc);
        }
    }
}

std::u16string stop_comment(const char* kind, double price, uint32_t digits) {
    char16_t text[64];
    text_format(text, 64, "[%s %.*f]", kind, (int)digits, price);
    return text;
}

void close_position(Step* step, uint64_t ticket, uint32_t reason, double price, const char* kind,
                    uint32_t digits) {
    const Position& position = step->book->positions.at(ticket);
    Order order = closing_order(position, position.volume, reason, step->now_msc);
    order.comment = stop_comment(kind, price, digits);
    fill_order(step->book, step->changes, order, price, step->now_msc);
}

void run_stops(Step* step) {
    struct Hit {
        uint64_t ticket;
        uint32_t reason;
        double price;
        uint32_t digits;
    };
    std::vector<Hit> hits;
    for (const Position* listed : positions_in_order(*step->book)) {
        const Position& p = *listed;
        if (p.sl <= 0 && p.tp <= 0) {
            continue;
        }
        const SymbolCalc* calc = cached_symbol(&step->cache, p.symbol);
        if (!calc || !symbol_open(step, p.symbol)) {
            continue;
        }
        bool buy = p.type == kPositionTypeBuy;
        double price = buy ? calc->bid : calc->ask;
        if (price <= 0) {
            continue;
        }
        bool sl_hit = p.sl > 0 && (buy ? price <= p.sl : price >= p.sl);
        bool tp_hit = p.tp > 0 && (buy ? price >= p.tp : price <= p.tp);
        if (sl_hit || tp_hit) {
            hits.push_back({p.ticket, sl_hit ? (uint32_t)kReasonSl : (uint32_t)kReasonTp, price,
                            calc->info->digits});
        }
    }
    for (const Hit& hit : hits) {
        close_position(step, hit.ticket, hit.reason, hit.price,
                       hit.reason == kReasonSl ? "sl" : "tp", hit.digits);
    }
}

// Closes the most losing position while the margin level is under the
// stop-out level.
void run_stop_out(Step* step) {
    Book* book = step->book;
    while (!book->positions.empty()) {
        Figures f = book_figures(*book);
        if (f.margin <= 0 || f.margin_level >= book->account.margin_so_so) {
            return;
        }
        const Position* worst = nullptr;
        double worst_profit = 0;
        double worst_price = 0;
        uint32_t digits = 0;
        for (const Position* listed : positions_in_order(*book)) {
            const Position& p = *listed;
            const SymbolCalc* calc = cached_symbol(&step->cache, p.symbol);
            if (!calc || !symbol_open(step, p.symbol)) {
                continue;
            }
            double price = 0;
            double profit = position_profit(p, *calc, &price);
            if (!worst || profit < worst_profit) {
                worst = &p;
                worst_profit = profit;
                worst_price = price;
                digits = calc->info->digits;
            }
        }
        if (!worst) {
            return;  // no position can be closed now
        }
        char level[32];
        snprintf(level, sizeof(level), "so %.1f%%", f.margin_level);
        close_position(step, worst->ticket, kReasonStopOut, worst_price, level, digits);
    }
}

}  // namespace

void engine_update(int64_t now_msc) {
    if (!g_engine.open) {
        return;
    }
    Changes changes;
    // Rollovers come once a day and are never put off by the pacing below.
    rollover(now_msc, &changes);
    // The server calls this after every wake-up. A book of thousands of
    // positions takes milliseconds to check, so it waits four times as long as
    // its last check before the next one and never takes more than a fifth of
    // the server's time; smaller books are checked every time.
    auto started = std::chrono::steady_clock::now();
    if (started < g_engine.next_update) {
        if (!changes.empty()) {
            commit_changes(changes);
        }
        return;
    }
    for (auto& entry : g_engine.books) {
        Book* book = &entry.second;
        if (book->positions.empty() && book->orders.empty()) {
            continue;
        }
        Step step{book, &changes, now_msc, SymbolCache{book->account.settings.currency, {}}, {}};
        run_orders(&step);
        run_stops(&step);
        run_stop_out(&step);
    }
    size_t held = 0;
    for (const auto& entry : g_engine.books) {
        held += entry.second.positions.size() + entry.second.orders.size();
    }
    auto took = std::chrono::steady_clock::now() - started;
    g_engine.next_update = held >= kLargeBook ? started + took * 5 : started;
    if (!changes.empty()) {
        commit_changes(changes);
    }
}
