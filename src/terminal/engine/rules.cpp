// Request checks against the symbol's settings and the current quote.
#include "terminal/engine/rules.h"

#include <cmath>

#include "terminal/engine/calc.h"
#include "wire/enums.h"

namespace {

constexpr int64_t kDayMsc = 86400000;
constexpr int64_t kLastExpiration = 253402300799;  // 9999-12-31 23:59:59 UTC

double min_distance(const SymbolInfoRecord& info) {
    double level = info.trade_stops_level > 0 ? info.trade_stops_level * info.point : 0;
    return level > info.point ? level : info.point;
}

// Compares prices with half a point of slack, since they arrive as doubles.
bool at_least(double distance, double wanted, const SymbolInfoRecord& info) {
    return distance >= wanted - info.point * 0.5;
}

}  // namespace

double round_price(const SymbolInfoRecord& info, double price) {
    double scale = std::pow(10.0, (double)info.digits);
    return std::round(price * scale) / scale;
}

uint32_t check_volume(const SymbolInfoRecord& info, double volume) {
    if (!std::isfinite(volume) || volume <= 0) {
        return kRetcodeInvalidVolume;
    }
    double slack = 1e-9;
    if (volume < info.volume_min - slack) {
        return kRetcodeInvalidVolume;
    }
    if (info.volume_max > 0 && volume > info.volume_max + slack) {
        return kRetcodeInvalidVolume;
    }
    if (info.volume_step > 0) {
        double steps = volume / info.volume_step;
        if (std::fabs(steps - std::round(steps)) > 1e-6) {
            return kRetcodeInvalidVolume;
        }
    }
    return 0;
}

uint32_t check_filling(const SymbolInfoRecord& info, uint32_t filling) {
    // Every fill here is complete, so "return" is always honoured.
    switch (filling) {
        case kOrderFillingFok:
            return (info.filling_mode & kSymbolFillingFok) ? 0 : (uint32_t)kRetcodeInvalidFill;
        case kOrderFillingIoc:
            return (info.filling_mode & kSymbolFillingIoc) ? 0 : (uint32_t)kRetcodeInvalidFill;
        case kOrderFillingReturn:
            return 0;
        default:
            return kRetcodeInvalidFill;
    }
}

uint32_t check_trade_mode(const SymbolInfoRecord& info, bool opening, bool buy) {
    switch (info.trade_mode) {
        case kSymbolTradeModeDisabled:
            return kRetcodeTradeDisabled;
        case kSymbolTradeModeCloseOnly:
            return opening ? (uint32_t)kRetcodeCloseOnly : 0;
        case kSymbolTradeModeLongOnly:
            return opening && !buy ? (uint32_t)kRetcodeLongOnly : 0;
        case kSymbolTradeModeShortOnly:
            return opening && buy ? (uint32_t)kRetcodeShortOnly : 0;
        default:
            return 0;
    }
}

uint32_t check_expiration(const SymbolInfoRecord& info, uint32_t type_time, int64_t expiration,
                          int64_t now_msc) {
    if (type_time > kOrderTimeSpecifiedDay) {
        return kRetcodeInvalidExpiration;
    }
    if (info.expiration_mode != 0 && !(info.expiration_mode & (1 << type_time))) {
        return kRetcodeInvalidExpiration;
    }
    if (type_time >= kOrderTimeSpecified && expiration > kLastExpiration) {
        return kRetcodeInvalidExpiration;  // and its milliseconds would overflow
    }
    int64_t expiry = order_expiry_msc(type_time, expiration, now_msc);
    if (type_time >= kOrderTimeSpecified && (expiration <= 0 || expiry <= now_msc)) {
        return kRetcodeInvalidExpiration;
    }
    return 0;
}

uint32_t check_order_mode(const SymbolInfoRecord& info, uint32_t order_type) {
    int32_t needed = 0;
    switch (order_type) {
        case kOrderTypeBuy:
        case kOrderTypeSell:
            needed = kSymbolOrderMarket;
            break;
        case kOrderTypeBuyLimit:
        case kOrderTypeSellLimit:
            needed = kSymbolOrderLimit;
            break;
        case kOrderTypeBuyStop:
        case kOrderTypeSellStop:
            needed = kSymbolOrderStop;
            break;
        case kOrderTypeBuyStopLimit:
        case kOrderTypeSellStopLimit:
            needed = kSymbolOrderStopLimit;
            break;
        case kOrderTypeCloseBy:
            needed = kSymbolOrderCloseBy;
            break;
        default:
            return kRetcodeInvalidOrder;
    }
    // A symbol that lists no order kinds restricts none.
    return info.order_mode == 0 || (info.order_mode & needed) ? 0 : (uint32_t)kRetcodeInvalidOrder;
}

uint32_t check_stops(const SymbolInfoRecord& info, bool buy, double reference, double sl,
                     double tp) {
    if (!std::isfinite(sl) || !std::isfinite(tp) || sl < 0 || tp < 0) {
        return kRetcodeInvalidStops;
    }
    double distance = min_distance(info);
    double sl_gap = buy ? reference - sl : sl - reference;
    double tp_gap = buy ? tp - reference : reference - tp;
    if (sl > 0 && !at_least(sl_gap, distance, info)) {
        return kRetcodeInvalidStops;
    }
    if (tp > 0 && !at_least(tp_gap, distance, info)) {
        return kRetcodeInvalidStops;
    }
    return 0;
}

uint32_t check_pending_price(const SymbolInfoRecord& info, uint32_t type, double price,
                             double stoplimit) {
    if (!std::isfinite(price) || price <= 0) {
        return kRetcodeInvalidPrice;
    }
    double distance = min_distance(info);
    bool ok = false;
    switch (type) {
        case kOrderTypeBuyLimit:
            ok = at_least(info.ask - price, distance, info);
            break;
        case kOrderTypeSellLimit:
            ok = at_least(price - info.bid, distance, info);
            break;
        case kOrderTypeBuyStop:
        case kOrderTypeBuyStopLimit:
            ok = at_least(price - info.ask, distance, info);
            break;
        case kOrderTypeSellStop:
        case kOrderTypeSellStopLimit:
            ok = at_least(info.bid - price, distance, info);
            break;
        default:
            return kRetcodeInvalidOrder;
    }
    if (ok && is_stop_limit(type)) {
        // The limit order placed at the trigger must be a valid limit there.
        bool buy = is_buy(type);
        ok = std::isfinite(stoplimit) && stoplimit > 0 &&
             at_least(buy ? price - stoplimit : stoplimit - price, 0, info);
    }
    return ok ? 0 : (uint32_t)kRetcodeInvalidPrice;
}

int64_t order_expiry_msc(uint32_t type_time, int64_t expiration, int64_t time_setup_msc) {
    switch (type_time) {
        case kOrderTimeDay:
            return (time_setup_msc / kDayMsc + 1) * kDayMsc;
        case kOrderTimeSpecified:
            return expiration * 1000;
        case kOrderTimeSpecifiedDay:
            return (expiration * 1000 / kDayMsc + 1) * kDayMsc;
        default:
            return 0;
    }
}

const char16_t* retcode_comment(uint32_t retcode) {
    switch (retcode) {
        case 0:
            return u"Done";
        case kRetcodeRequote:
            return u"Requote";
        case kRetcodePlaced:
            return u"Request placed";
        case kRetcodeDone:
            return u"Request executed";
        case kRetcodeError:
            return u"Request processing error";
        case kRetcodeInvalid:
            return u"Invalid request";
        case kRetcodeInvalidVolume:
            return u"Invalid volume";
        case kRetcodeInvalidPrice:
            return u"Invalid price";
        case kRetcodeInvalidStops:
            return u"Invalid stops";
        case kRetcodeTradeDisabled:
            return u"Trade disabled";
        case kRetcodeMarketClosed:
            return u"Market closed";
        case kRetcodeNoMoney:
            return u"No money";
        case kRetcodeInvalidExpiration:
            return u"Invalid expiration";
        case kRetcodeNoChanges:
            return u"No changes";
        case kRetcodeInvalidFill:
            return u"Unsupported filling mode";
        case kRetcodeLimitOrders:
            return u"Too many pending orders";
        case kRetcodeInvalidOrder:
            return u"Invalid order type";
        case kRetcodePositionClosed:
            return u"Position doesn't exist";
        case kRetcodeInvalidCloseVolume:
            return u"Close volume exceeds the position";
        case kRetcodeLongOnly:
            return u"Only buy positions allowed";
        case kRetcodeShortOnly:
            return u"Only sell positions allowed";
        case kRetcodeCloseOnly:
            return u"Only position closing allowed";
        default:
            return u"Request rejected";
    }
}
