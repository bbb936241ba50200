// Filling orders: positions opened, changed, reversed and closed, with the
// deal that records each fill and the realised profit added to the balance.
#include "terminal/engine/exec.h"

#include <cmath>

#include "terminal/engine/calc.h"
#include "wire/enums.h"

namespace {

// Currency pairs pay the account's commission on each deal; CFDs, metals and
// crypto are paid for in their spread, as at most retail brokers.
double deal_commission(const Book& book, const std::u16string& symbol, double volume) {
    const SymbolInfoRecord* info = symbol_info(symbol);
    if (!info || info->trade_calc_mode != kSymbolCalcModeForex) {
        return 0;
    }
    return -money(book.account.settings.commission * volume);
}

Deal new_deal(const Book& book, const Order& order, double volume, double price, int64_t now_msc) {
    Deal deal = {};
    deal.ticket = take_ticket();
    deal.login = order.login;
    deal.order = order.ticket;
    deal.time_msc = now_msc;
    deal.type = is_buy(order.type) ? kDealTypeBuy : kDealTypeSell;
    deal.magic = order.magic;
    deal.reason = order.reason;
    deal.volume = volume;
    deal.price = price;
    deal.symbol = order.symbol;
    deal.comment = order.comment;
    deal.commission = deal_commission(book, order.symbol, volume);
    return deal;
}

// Realised profit of closing `volume` of a position at `price`, in cents.
double realised_profit(const Book& book, const Position& position, double volume, double price) {
    SymbolCalc calc;
    if (!symbol_calc(position.symbol, book.account.settings.currency, &calc)) {
        return 0;
    }
    return money(account_profit(calc, position.type, volume, position.price_open, price));
}

// The deal that closes part of a position takes that part of its swap.
void take_swap(Deal* deal, Position* position, double volume) {
    double share = volume >= position->volume ? position->swap
                                              : money(position->swap * volume / position->volume);
    deal->swap = money(deal->swap + share);
    position->swap = money(position->swap - share);
}

// A deal's profit, swap and commission go to the balance as it is made.
void settle(Book* book, Changes* changes, const Deal& deal) {
    double amount = deal.profit + deal.swap + deal.commission;
    book->account.settings.balance = money(book->account.settings.balance + amount);
    changes->accounts.insert(book->account.settings.login);
    changes->deals.push_back(deal);
}

Position new_position(const Order& order, double volume, double price, int64_t now_msc) {
    Position p = {};
    p.ticket = order.ticket;
    p.login = order.login;
    p.symbol = order.symbol;
    p.type = is_buy(order.type) ? kPositionTypeBuy : kPositionTypeSell;
    p.volume = volume;
    p.price_open = price;
    p.sl = order.sl;
    p.tp = order.tp;
    p.time_msc = now_msc;
    p.time_update_msc = now_msc;
    p.magic = order.magic;
    p.reason = order.reason;
    p.comment = order.comment;
    return p;
}

// Takes `volume` off a position, closing it when nothing is left.
void reduce_position(Book* book, Changes* changes, Position* position, double volume,
                     int64_t now_msc) {
    position->volume = normalize_volume(position->volume - volume);
    position->time_update_msc = now_msc;
    if (volume_is_zero(position->volume)) {
        uint64_t ticket = position->ticket;
        book->positions.erase(ticket);
        positions_changed(book);
        change_position_deleted(changes, ticket);
    } else {
        change_position(changes, *position);
    }
}

// Netting: the symbol's one position grows, shrinks, closes or turns over.
void fill_netting(Book* book, Changes* changes, const Order& order, Deal* deal, Position* position,
                  int64_t now_msc) {
    bool same_side = (position->type == kPositionTypeBuy) == is_buy(order.type);
    deal->position_id = position->ticket;
    if (same_side) {
        double volume = normalize_volume(position->volume + deal->volume);
        position->price_open =
            (position->price_open * position->volume + deal->price * deal->volume) / volume;
        position->volume = volume;
        if (order.sl > 0 || order.tp > 0) {
            position->sl = order.sl;
            position->tp = order.tp;
        }
        position->time_update_msc = now_msc;
        change_position(changes, *position);
        deal->entry = kDealEntryIn;
        return;
    }
    double closed = std::fmin(deal->volume, position->volume);
    deal->profit = realised_profit(*book, *position, closed, deal->price);
    take_swap(deal, position, closed);
    double left_over = normalize_volume(deal->volume - closed);
    if (volume_is_zero(left_over)) {
        deal->entry = kDealEntryOut;
        reduce_position(book, changes, position, closed, now_msc);
        return;
    }
    // Turned over: the rest of the deal opens the other side at the deal's price.
    deal->entry = kDealEntryInOut;
    position->type = position->type == kPositionTypeBuy ? kPositionTypeSell : kPositionTypeBuy;
    position->volume = left_over;
    position->price_open = deal->price;
    position->sl = order.sl;
    position->tp = order.tp;
    position->time_update_msc = now_msc;
    change_position(changes, *position);
}

}  // namespace

bool is_hedging(const Book& book) {
    return book.account.settings.margin_mode == kAccountMarginModeRetailHedging;
}

Position* netting_position(Book* book, const std::u16string& symbol) {
    for (auto& entry : book->positions) {
        if (entry.second.symbol == symbol) {
            return &entry.second;
        }
    }
    return nullptr;
}

double normalize_volume(double volume) {
    return std::round(volume * 1e8) / 1e8;
}

bool volume_is_zero(double volume) {
    return std::fabs(volume) < 1e-9;
}

uint64_t fill_order(Book* book, Changes* changes, Order order, double price, int64_t now_msc) {
    double volume = normalize_volume(order.volume_current);
    Deal deal = new_deal(*book, order, volume, price, now_msc);
    auto target = book->positions.find(order.position_id);
    if (order.position_id != 0 && target != book->positions.end()) {
        Position* position = &target->second;
        deal.position_id = position->ticket;
        deal.entry = kDealEntryOut;
        deal.profit = realised_profit(*book, *position, volume, price);
        take_swap(&deal, position, volume);
        reduce_position(book, changes, position, volume, now_msc);
    } else if (Position* existing =
                   !is_hedging(*book) ? netting_position(book, order.symbol) : nullptr) {
        fill_netting(book, changes, order, &deal, existing, now_msc);
    } else {
        Position position = new_position(order, volume, price, now_msc);
        book->positions[position.ticket] = position;
        positions_changed(book);
        change_position(changes, position);
        deal.position_id = position.ticket;
        deal.entry = kDealEntryIn;
    }
    order.state = kOrderStateFilled;
    order.time_done_msc = now_msc;
    order.volume_current = 0;
    order.price_current = price;
    if (order.price_open <= 0) {
        order.price_open = price;
    }
    order.position_id = deal.position_id;
    change_order(changes, order);
    settle(book, changes, deal);
    return deal.ticket;
}

uint64_t fill_close_by(Book* book, Changes* changes, Order order, uint64_t position,
                       uint64_t position_by, int64_t now_msc) {
    Position* first = &book->positions.at(position);
    Position* second = &book->positions.at(position_by);
    double volume = std::fmin(first->volume, second->volume);
    // The first position closes at the other's opening price and carries the
    // whole profit of the pair; the second closes at its own opening price.
    double first_price = second->price_open;
    double second_price = second->price_open;
    Deal deal = new_deal(*book, order, volume, first_price, now_msc);
    deal.type = first->type == kPositionTypeBuy ? kDealTypeSell : kDealTypeBuy;
    deal.entry = kDealEntryOutBy;
    deal.position_id = first->ticket;
    deal.profit = realised_profit(*book, *first, volume, first_price);
    take_swap(&deal, first, volume);
    Deal deal_by = new_deal(*book, order, volume, second_price, now_msc);
    deal_by.type = second->type == kPositionTypeBuy ? kDealTypeSell : kDealTypeBuy;
    deal_by.entry = kDealEntryOutBy;
    deal_by.position_id = second->ticket;
    deal_by.profit = realised_profit(*book, *second, volume, second_price);
    take_swap(&deal_by, second, volume);
    order.state = kOrderStateFilled;
    order.time_done_msc = now_msc;
    order.volume_initial = volume;
    order.volume_current = 0;
    order.price_open = first_price;
    order.price_current = first_price;
    order.position_id = first->ticket;
    order.position_by_id = second->ticket;
    reduce_position(book, changes, second, volume, now_msc);
    reduce_position(book, changes, first, volume, now_msc);
    change_order(changes, order);
    settle(book, changes, deal);
    settle(book, changes, deal_by);
    return deal.ticket;
}

Order closing_order(const Position& position, double volume, uint32_t reason, int64_t now_msc) {
    Order order = {};
    order.ticket = take_ticket();
    order.login = position.login;
    order.symbol = position.symbol;
    order.type = position.type == kPositionTypeBuy ? kOrderTypeSell : kOrderTypeBuy;
    order.type_filling = kOrderFillingFok;
    order.state = kOrderStateStarted;
    order.volume_initial = volume;
    order.volume_current = volume;
    order.time_setup_msc = now_msc;
    order.magic = position.magic;
    order.position_id = position.ticket;
    order.reason = reason;
    return order;
}

void finish_pending(Book* book, Changes* changes, uint64_t ticket, uint32_t state,
                    int64_t now_msc) {
    auto found = book->orders.find(ticket);
    if (found == book->orders.end()) {
        return;
    }
    Order order = found->second;
    book->orders.erase(found);
    order.state = state;
    order.time_done_msc = now_msc;
    change_order(changes, order);
}

Snapshot take_snapshot(const Book& book, const std::u16string& symbol) {
    Snapshot s = {book.account, g_engine.next_ticket, symbol, {}, {}};
    for (const auto& entry : book.positions) {
        if (entry.second.symbol == symbol) {
            s.positions.push_back(entry.second);
        }
    }
    for (const auto& entry : book.orders) {
        if (entry.second.symbol == symbol) {
            s.orders.push_back(entry.second);
        }
    }
    return s;
}

void restore_snapshot(Book* book, const Snapshot& s) {
    book->account = s.account;
    g_engine.next_ticket = s.next_ticket;
    for (auto it = book->positions.begin(); it != book->positions.end();) {
        it = it->second.symbol == s.symbol ? book->positions.erase(it) : std::next(it);
    }
    for (auto it = book->orders.begin(); it != book->orders.end();) {
        it = it->second.symbol == s.symbol ? book->orders.erase(it) : std::next(it);
    }
    for (const Position& p : s.positions) {
        book->positions[p.ticket] = p;
    }
    positions_changed(book);
    for (const Order& o : s.orders) {
        book->orders[o.ticket] = o;
    }
}
