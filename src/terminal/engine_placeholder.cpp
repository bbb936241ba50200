// TEMPORARY: weak stand-ins for the trading engine until it lands, so that
// the terminal links and serves the market. The real definitions replace
// them; this file is deleted then.
#include <vector>

#include "terminal/engine.h"

#define PLACEHOLDER __attribute__((weak))

static std::vector<AccountSettings> g_accounts;

PLACEHOLDER bool engine_open(const std::string&, std::string*) {
    g_accounts.push_back(AccountSettings{10001, u"demo", u"Quillmark-Demo", u"Demo", u"", u"USD",
                                         10000, 100, 2, false});
    return true;
}
PLACEHOLDER void engine_close() {}
PLACEHOLDER bool engine_open_test_positions(uint32_t, std::string* error) {
    *error = "not available yet";
    return false;
}
PLACEHOLDER bool engine_add_account(const AccountSettings& account, std::string*) {
    g_accounts.push_back(account);
    return true;
}
PLACEHOLDER LoginResult engine_login(uint64_t login, const char16_t* password, const char16_t*) {
    if (login == 0) {
        return kLoginAccepted;
    }
    for (const AccountSettings& account : g_accounts) {
        if (account.login == login) {
            if (account.needs_otp) {
                return kLoginNeedsOtp;
            }
            return account.password == password ? kLoginAccepted : kLoginRejected;
        }
    }
    return kLoginRejected;
}
PLACEHOLDER void engine_account_info(AccountInfoRecord*) {}
PLACEHOLDER void engine_update(int64_t) {}
PLACEHOLDER int32_t engine_order_check(const TradeRequestRecord&, OrderCheckRecord*) {
    return -7;
}
PLACEHOLDER int32_t engine_order_send(const TradeRequestRecord&, OrderSendRecord*) {
    return -7;
}
PLACEHOLDER int32_t engine_calc_margin(uint32_t, const char16_t*, double, double, double*) {
    return -7;
}
PLACEHOLDER int32_t engine_calc_profit(uint32_t, const char16_t*, double, double, double, double*) {
    return -7;
}
PLACEHOLDER uint32_t engine_positions_total() {
    return 0;
}
PLACEHOLDER void engine_positions(const char16_t*, std::vector<TradePositionRecord>*) {}
PLACEHOLDER bool engine_position(uint64_t, TradePositionRecord*) {
    return false;
}
PLACEHOLDER uint32_t engine_orders_total() {
    return 0;
}
PLACEHOLDER void engine_orders(const char16_t*, std::vector<TradeOrderRecord>*) {}
PLACEHOLDER bool engine_order(uint64_t, TradeOrderRecord*) {
    return false;
}
PLACEHOLDER void engine_history_orders(int64_t, int64_t, std::vector<TradeOrderRecord>*) {}
PLACEHOLDER void engine_history_orders_by_position(uint64_t, std::vector<TradeOrderRecord>*) {}
PLACEHOLDER bool engine_history_order(uint64_t, TradeOrderRecord*) {
    return false;
}
PLACEHOLDER void engine_history_deals(int64_t, int64_t, std::vector<TradeDealRecord>*) {}
PLACEHOLDER void engine_history_deals_by_position(uint64_t, std::vector<TradeDealRecord>*) {}
PLACEHOLDER bool engine_history_deal(uint64_t, TradeDealRecord*) {
    return false;
}
