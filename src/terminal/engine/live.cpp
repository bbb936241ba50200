// The account between requests: as prices move, pending orders expire or
// trigger, stops close positions, and stop-out closes the most losing
// positions until the margin level recovers. Everything one step changes is
// committed in one transaction. Triggers are checked at every tick since the
// last check, so that an order fills at the moment its price was crossed
// however far the clock moved in between (a replay moves it by hours).
#include <algorithm>
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
// Books up to this many triggers are checked tick by tick; larger ones at
// each check's prices, which keeps a check of thousands of stops bounded.
constexpr size_t kWalkedTriggers = 1000;

struct Step {
    Book* book;
    Changes* changes;
    int64_t now_msc;
    SymbolCache cache;
    std::unordered_map<std::u16string, bool> open;
    const std::u16string* only = nullptr;  // one symbol's tick: its orders and stops alone
};

// Whether a step looks at an item of this symbol that existed (or had its
// stops set) at the step's time.
bool in_step(const Step* step, const std::u16string& symbol, int64_t since_msc) {
    return (step->only == nullptr || *step->only == symbol) && since_msc <= step->now_msc;
}

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
        if (!in_step(step, o.symbol, o.time_setup_msc)) {
            continue;
        }
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
        if ((p.sl <= 0 && p.tp <= 0) || !in_step(step, p.symbol, p.time_update_msc)) {
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

struct Move {
    int64_t time_msc;
    const std::u16string* symbol;
    double bid;
    double ask;
};

// The symbols whose prices can trigger something in the book, or none when
// there are too many triggers to walk.
std::vector<std::u16string> trigger_symbols(const Book& book) {
    std::vector<std::u16string> symbols;
    size_t triggers = book.orders.size();
    for (const auto& entry : book.orders) {
        symbols.push_back(entry.second.symbol);
    }
    for (const Position* p : positions_in_order(book)) {
        if (p->sl > 0 || p->tp > 0) {
            symbols.push_back(p->symbol);
            triggers++;
        }
    }
    if (triggers > kWalkedTriggers) {
        return {};
    }
    std::sort(symbols.begin(), symbols.end());
    symbols.erase(std::unique(symbols.begin(), symbols.end()), symbols.end());
    return symbols;
}

// Runs the book's orders and stops at each tick of (from_msc, to_msc] of
// their symbols, in time order, each at its tick's own time and prices.
void walk_ticks(Book* book, Changes* changes, int64_t from_msc, int64_t to_msc) {
    std::vector<std::u16string> symbols = trigger_symbols(*book);
    std::vector<Move> moves;
    std::vector<TickRecord> ticks;
    for (const std::u16string& symbol : symbols) {
        market_ticks(symbol.c_str(), from_msc + 1, to_msc, &ticks);
        for (const TickRecord& tick : ticks) {
            if (tick.bid > 0 && tick.ask > 0) {
                moves.push_back(Move{tick.time_msc, &symbol, tick.bid, tick.ask});
            }
        }
    }
    std::stable_sort(moves.begin(), moves.end(),
                     [](const Move& a, const Move& b) { return a.time_msc < b.time_msc; });
    Step step{book, changes, 0, SymbolCache{book->account.settings.currency, {}}, {}};
    for (const Move& move : moves) {
        if (!cached_symbol(&step.cache, *move.symbol)) {
            continue;
        }
        SymbolCalc& calc = step.cache.symbols.at(*move.symbol);
        calc.bid = move.bid;
        calc.ask = move.ask;
        step.now_msc = move.time_msc;
        step.only = move.symbol;
        step.open.clear();
        run_orders(&step);
        run_stops(&step);
    }
}

}  // namespace

void engine_update(int64_t now_msc) {
    if (!g_engine.open) {
        return;
    }
    ClockHold hold(now_msc);
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
        if (g_engine.checked_msc != 0 && g_engine.checked_msc < now_msc) {
            walk_ticks(book, &changes, g_engine.checked_msc, now_msc);
        }
        Step step{book, &changes, now_msc, SymbolCache{book->account.settings.currency, {}}, {}};
        run_orders(&step);
        run_stops(&step);
        run_stop_out(&step);
    }
    g_engine.checked_msc = now_msc;
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
