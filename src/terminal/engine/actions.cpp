// The trade actions: market deals, pending orders placed, modified and
// removed, stops of positions, and close-by.
#include "terminal/engine/actions.h"

#include <cmath>
#include <vector>

#include "terminal/engine/calc.h"
#include "terminal/engine/exec.h"
#include "terminal/engine/rules.h"
#include "terminal/market/market.h"
#include "wire/enums.h"

namespace {

bool refuse(Outcome* out, uint32_t retcode, const char16_t* comment = nullptr) {
    out->retcode = retcode;
    out->comment = comment ? comment : u"";
    return false;
}

Position* find_position(Book* book, uint64_t ticket) {
    auto found = book->positions.find(ticket);
    return found == book->positions.end() ? nullptr : &found->second;
}

Order* find_order(Book* book, uint64_t ticket) {
    auto found = book->orders.find(ticket);
    return found == book->orders.end() ? nullptr : &found->second;
}

// The symbol of a request that names it; refuses an unknown one.
const SymbolInfoRecord* request_symbol(const std::u16string& name, Outcome* out) {
    const SymbolInfoRecord* info = symbol_info(name);
    if (!info) {
        refuse(out, kRetcodeInvalid, u"Unknown symbol");
    }
    return info;
}

// On a replay's clock the market moves seconds between a script's reading a
// price and its request arriving, which would make nearly every deal a
// requote at high speed. A broker without latency would have filled the
// request when it was made, so a price quoted within this much real time
// before the request stands: the deal fills at that quote.
constexpr int64_t kReplayQuoteRealMs = 250;

bool within_deviation(const SymbolInfoRecord& info, double asked, double price,
                      uint32_t deviation) {
    return std::fabs(asked - price) <= (double)deviation * info.point + info.point * 0.5;
}

// The replay's recent quote on the deal's side closest to the asked price,
// or 0 when none is within the deviation.
double recent_quote(const Request& request, const SymbolInfoRecord& info, bool buy) {
    const TradeRequestRecord& r = *request.record;
    int64_t span = clock_virtual_span_msc(kReplayQuoteRealMs);
    if (span <= 0) {
        return 0;
    }
    std::vector<TickRecord> ticks;
    market_ticks(request.symbol.c_str(), request.now_msc - span, request.now_msc, &ticks);
    double best = 0;
    for (const TickRecord& tick : ticks) {
        double quote = buy ? tick.ask : tick.bid;
        if (quote > 0 && within_deviation(info, r.price, quote, r.deviation) &&
            (best == 0 || std::fabs(quote - r.price) < std::fabs(best - r.price))) {
            best = quote;
        }
    }
    return best;
}

bool market_is_open(const std::u16string& symbol, int64_t now_msc, Outcome* out) {
    return market_open(symbol.c_str(), now_msc) || refuse(out, kRetcodeMarketClosed);
}

Order new_order(Book* book, const Request& request, uint32_t type, double volume) {
    const TradeRequestRecord& r = *request.record;
    Order o = {};  // ticketed only once it passes its checks
    o.login = book->account.settings.login;
    o.symbol = request.symbol;
    o.type = type;
    o.type_filling = r.type_filling;
    o.type_time = kOrderTimeGtc;
    o.state = kOrderStateStarted;
    o.volume_initial = volume;
    o.volume_current = volume;
    o.time_setup_msc = request.now_msc;
    o.magic = r.magic;
    o.reason = kReasonExpert;
    o.comment = request.comment;
    return o;
}

// Whether a deal adds to the account's exposure: a deal that names no
// position opens one, except on a netting account holding the other side.
bool opens_exposure(Book* book, const std::u16string& symbol, bool buy, const Position* target) {
    if (target || is_hedging(*book)) {
        return target == nullptr;
    }
    const Position* held = netting_position(book, symbol);
    return !held || (held->type == kPositionTypeBuy) == buy;
}

// A market deal: opens, adds to, reduces or closes a position.
bool do_deal(Book* book, Request request, Changes* changes, Outcome* out) {
    const TradeRequestRecord& r = *request.record;
    Position* position = nullptr;
    if (r.position != 0) {
        position = find_position(book, r.position);
        if (!position) {
            return refuse(out, kRetcodePositionClosed);
        }
        if (!request.symbol.empty() && request.symbol != position->symbol) {
            return refuse(out, kRetcodeInvalid, u"Symbol differs from the position's");
        }
        request.symbol = position->symbol;
    }
    const SymbolInfoRecord* info = request_symbol(request.symbol, out);
    if (!info) {
        return false;
    }
    if (r.type != kOrderTypeBuy && r.type != kOrderTypeSell) {
        return refuse(out, kRetcodeInvalidOrder);
    }
    bool buy = r.type == kOrderTypeBuy;
    if (position && (position->type == kPositionTypeBuy) == buy) {
        return refuse(out, kRetcodeInvalid, u"A position closes with the opposite type");
    }
    uint32_t code =
        check_trade_mode(*info, opens_exposure(book, request.symbol, buy, position), buy);
    if (!code)
        code = check_order_mode(*info, r.type);
    if (!code)
        code = check_volume(*info, r.volume);
    if (!code && position && normalize_volume(r.volume) > position->volume + 1e-9) {
        code = kRetcodeInvalidCloseVolume;
    }
    if (!code)
        code = check_filling(*info, r.type_filling);
    if (code) {
        return refuse(out, code);
    }
    if (!market_is_open(request.symbol, request.now_msc, out)) {
        return false;
    }
    double price = buy ? info->ask : info->bid;
    if (price <= 0) {
        return refuse(out, kRetcodePriceOff, u"No prices");
    }
    if (!std::isfinite(r.price) || r.price < 0) {
        return refuse(out, kRetcodeInvalidPrice);
    }
    if (r.price != 0 && !within_deviation(*info, r.price, price, r.deviation)) {
        price = recent_quote(request, *info, buy);
        if (price == 0) {
            return refuse(out, kRetcodeRequote);
        }
    }
    double sl = round_price(*info, r.sl);
    double tp = round_price(*info, r.tp);
    if (!position && (code = check_stops(*info, buy, buy ? info->bid : info->ask, sl, tp))) {
        return refuse(out, code);
    }
    Order order = new_order(book, request, r.type, normalize_volume(r.volume));
    order.ticket = take_ticket();
    order.price_open = price;
    order.position_id = position ? position->ticket : 0;
    if (!position) {
        order.sl = sl;
        order.tp = tp;
    }
    out->deal = fill_order(book, changes, order, price, request.now_msc);
    out->order = order.ticket;
    out->volume = order.volume_initial;
    out->price = price;
    out->retcode = kRetcodeDone;
    return true;
}

// Checks a pending order's prices, stops and expiration as they would be placed.
uint32_t check_pending(const SymbolInfoRecord& info, const Order& o, int64_t now_msc) {
    uint32_t code = check_pending_price(info, o.type, o.price_open, o.price_stoplimit);
    if (code) {
        return code;
    }
    bool stop_limit = is_stop_limit(o.type);
    double entry = stop_limit ? o.price_stoplimit : o.price_open;
    code = check_stops(info, is_buy(o.type), entry, o.sl, o.tp);
    if (code) {
        return code;
    }
    return check_expiration(info, o.type_time, o.time_expiration, now_msc);
}

// A pending order placed or changed. Placed is done too: trade servers answer
// a new pending order this way, and scripts check for it.
bool order_done(const Order& order, Changes* changes, Outcome* out) {
    change_order(changes, order);
    out->order = order.ticket;
    out->volume = order.volume_current;
    out->price = order.price_open;
    out->retcode = kRetcodeDone;
    return true;
}

bool do_pending(Book* book, const Request& request, Changes* changes, Outcome* out) {
    const TradeRequestRecord& r = *request.record;
    const SymbolInfoRecord* info = request_symbol(request.symbol, out);
    if (!info) {
        return false;
    }
    if (r.type < kOrderTypeBuyLimit || r.type > kOrderTypeSellStopLimit) {
        return refuse(out, kRetcodeInvalidOrder);
    }
    uint32_t code = check_trade_mode(*info, true, is_buy(r.type));
    if (!code)
        code = check_order_mode(*info, r.type);
    if (!code)
        code = check_volume(*info, r.volume);
    if (!code)
        code = check_filling(*info, r.type_filling);
    if (!code && book->orders.size() >= book->account.limit_orders) {
        code = kRetcodeLimitOrders;
    }
    if (code) {
        return refuse(out, code);
    }
    if (!market_is_open(request.symbol, request.now_msc, out)) {
        return false;
    }
    Order order = new_order(book, request, r.type, normalize_volume(r.volume));
    order.state = kOrderStatePlaced;
    order.type_time = r.type_time;
    order.time_expiration = r.type_time >= kOrderTimeSpecified ? r.expiration : 0;
    order.price_open = round_price(*info, r.price);
    order.price_stoplimit = round_price(*info, r.stoplimit);
    order.sl = round_price(*info, r.sl);
    order.tp = round_price(*info, r.tp);
    if (r.type != kOrderTypeBuyStopLimit && r.type != kOrderTypeSellStopLimit) {
        order.price_stoplimit = 0;
    }
    if ((code = check_pending(*info, order, request.now_msc))) {
        return refuse(out, code);
    }
    order.ticket = take_ticket();
    book->orders[order.ticket] = order;
    return order_done(order, changes, out);
}

bool do_sltp(Book* book, const Request& request, Changes* changes, Outcome* out) {
    const TradeRequestRecord& r = *request.record;
    Position* position = nullptr;
    if (r.position != 0) {
        position = find_position(book, r.position);
    } else if (!is_hedging(*book)) {
        position = netting_position(book, request.symbol);
    }
    if (!position) {
        return refuse(out, kRetcodePositionClosed);
    }
    const SymbolInfoRecord* info = request_symbol(position->symbol, out);
    if (!info) {
        return false;
    }
    if (!market_is_open(position->symbol, request.now_msc, out)) {
        return false;
    }
    double sl = round_price(*info, r.sl);
    double tp = round_price(*info, r.tp);
    if (sl == position->sl && tp == position->tp) {
        return refuse(out, kRetcodeNoChanges);
    }
    bool buy = position->type == kPositionTypeBuy;
    uint32_t code = check_stops(*info, buy, buy ? info->bid : info->ask, sl, tp);
    if (code) {
        return refuse(out, code);
    }
    position->sl = sl;
    position->tp = tp;
    position->time_update_msc = request.now_msc;
    change_position(changes, *position);
    out->retcode = kRetcodeDone;
    return true;
}

bool do_modify(Book* book, const Request& request, Changes* changes, Outcome* out) {
    const TradeRequestRecord& r = *request.record;
    Order* order = find_order(book, r.order);
    if (!order) {
        return refuse(out, kRetcodeInvalid, u"Order not found");
    }
    const SymbolInfoRecord* info = request_symbol(order->symbol, out);
    if (!info) {
        return false;
    }
    if (!market_is_open(order->symbol, request.now_msc, out)) {
        return false;
    }
    Order changed = *order;
    changed.price_open = round_price(*info, r.price);
    if (is_stop_limit(changed.type)) {
        changed.price_stoplimit = round_price(*info, r.stoplimit);
    }
    changed.sl = round_price(*info, r.sl);
    changed.tp = round_price(*info, r.tp);
    changed.type_time = r.type_time;
    changed.time_expiration = r.type_time >= kOrderTimeSpecified ? r.expiration : 0;
    if (changed.price_open == order->price_open &&
        changed.price_stoplimit == order->price_stoplimit && changed.sl == order->sl &&
        changed.tp == order->tp && changed.type_time == order->type_time &&
        changed.time_expiration == order->time_expiration) {
        return refuse(out, kRetcodeNoChanges);
    }
    uint32_t code = check_pending(*info, changed, request.now_msc);
    if (code) {
        return refuse(out, code);
    }
    *order = changed;
    return order_done(changed, changes, out);
}

bool do_remove(Book* book, const Request& request, Changes* changes, Outcome* out) {
    Order* order = find_order(book, request.record->order);
    if (!order) {
        return refuse(out, kRetcodeInvalid, u"Order not found");
    }
    out->order = order->ticket;
    out->volume = order->volume_current;
    finish_pending(book, changes, order->ticket, kOrderStateCanceled, request.now_msc);
    out->retcode = kRetcodeDone;
    return true;
}

bool do_close_by(Book* book, Request request, Changes* changes, Outcome* out) {
    const TradeRequestRecord& r = *request.record;
    if (!is_hedging(*book)) {
        return refuse(out, kRetcodeInvalid, u"Close by needs a hedging account");
    }
    Position* position = find_position(book, r.position);
    Position* position_by = find_position(book, r.position_by);
    if (!position || !position_by) {
        return refuse(out, kRetcodePositionClosed);
    }
    if (position == position_by || position->symbol != position_by->symbol ||
        position->type == position_by->type) {
        return refuse(out, kRetcodeInvalid, u"Close by needs opposite positions of one symbol");
    }
    request.symbol = position->symbol;
    const SymbolInfoRecord* info = request_symbol(request.symbol, out);
    if (!info) {
        return false;
    }
    uint32_t code = check_trade_mode(*info, false, true);
    if (!code)
        code = check_order_mode(*info, kOrderTypeCloseBy);
    if (code) {
        return refuse(out, code);
    }
    if (!market_is_open(request.symbol, request.now_msc, out)) {
        return false;
    }
    Order order = new_order(book, request, kOrderTypeCloseBy, 0);
    order.ticket = take_ticket();
    out->deal =
        fill_close_by(book, changes, order, position->ticket, position_by->ticket, request.now_msc);
    out->order = order.ticket;
    out->retcode = kRetcodeDone;
    return true;
}

}  // namespace

std::u16string affected_symbol(Book* book, const Request& request) {
    const TradeRequestRecord& r = *request.record;
    if (Position* position = r.position ? find_position(book, r.position) : nullptr) {
        return position->symbol;
    }
    bool by_order = r.action == kTradeActionModify || r.action == kTradeActionRemove;
    if (Order* order = by_order ? find_order(book, r.order) : nullptr) {
        return order->symbol;
    }
    return request.symbol;
}

bool run_request(Book* book, const Request& request, Changes* changes, Outcome* out) {
    if (!book->account.trade_allowed) {
        return refuse(out, kRetcodeTradeDisabled);
    }
    switch (request.record->action) {
        case kTradeActionDeal:
            return do_deal(book, request, changes, out);
        case kTradeActionPending:
            return do_pending(book, request, changes, out);
        case kTradeActionSltp:
            return do_sltp(book, request, changes, out);
        case kTradeActionModify:
            return do_modify(book, request, changes, out);
        case kTradeActionRemove:
            return do_remove(book, request, changes, out);
        case kTradeActionCloseBy:
            return do_close_by(book, request, changes, out);
        default:
            return refuse(out, kRetcodeInvalid, u"Unsupported trade action");
    }
}
