// The command table: every command the terminal answers, with its handler.
#include "terminal/server/config.h"
#include "terminal/server/handlers.h"
#include "terminal/server/session.h"
#include "wire/commands.h"
#include "wire/frames.h"
#include "wire/status.h"

namespace {

struct CommandEntry {
    uint32_t command;
    Handler handler;
    // An older build does not know the command: it answers "incompatible".
    uint32_t min_build;
    // Answered only with --test-controls; otherwise an unknown command.
    bool test_only;
};

const CommandEntry kCommands[] = {
    {kCmdVersion, serve_version, 0, false},
    {kCmdHandshake, serve_handshake, 0, false},
    {kCmdLogin, serve_login, 0, false},
    {kCmdReadyState, serve_ready_state, 0, false},
    {kCmdTerminalInfo, serve_terminal_info, 0, false},
    {kCmdAccountInfo, serve_account_info, 0, false},

    {kCmdSymbolInfo, serve_symbol_info, 0, false},
    {kCmdSymbolSelect, serve_symbol_select, 0, false},
    {kCmdSymbolInfoTick, serve_symbol_tick, 0, false},
    {kCmdSymbolsTotal, serve_symbols_total, kBuildSymbolsApi, false},
    {kCmdSymbolsGet, serve_symbols_get, kBuildSymbolsApi, false},
    {kCmdSymbolsGetGroup, serve_symbols_get, kBuildSymbolsApi, false},
    {kCmdMarketBookAdd, serve_depth_add, 0, false},
    {kCmdMarketBookRelease, serve_depth_release, 0, false},
    {kCmdMarketBookGet, serve_depth_get, 0, false},
    {kCmdTicksFrom, serve_ticks_query, 0, false},
    {kCmdTicksRange, serve_ticks_query, 0, false},
    {kCmdRatesFrom, serve_rates_query, 0, false},
    {kCmdRatesRange, serve_rates_query, 0, false},
    {kCmdRatesFromPos, serve_rates_query, 0, false},

    {kCmdPositionsTotal, serve_positions_total, 0, false},
    {kCmdPositionsGet, serve_positions_get, 0, false},
    {kCmdPositionsBySymbol, serve_positions_get, 0, false},
    {kCmdPositionByTicket, serve_position_by_ticket, 0, false},
    {kCmdOrdersTotal, serve_orders_total, 0, false},
    {kCmdOrdersGet, serve_orders_get, 0, false},
    {kCmdOrdersBySymbol, serve_orders_get, 0, false},
    {kCmdOrderByTicket, serve_order_by_ticket, 0, false},
    {kCmdHistoryOrdersTotal, serve_history_orders_range, 0, false},
    {kCmdHistoryOrdersGet, serve_history_orders_range, 0, false},
    {kCmdHistoryOrdersByPosition, serve_history_orders_by_position, 0, false},
    {kCmdHistoryOrderByTicket, serve_history_order_by_ticket, 0, false},
    {kCmdHistoryDealsTotal, serve_history_deals_range, 0, false},
    {kCmdHistoryDealsGet, serve_history_deals_range, 0, false},
    {kCmdHistoryDealsByPosition, serve_history_deals_by_position, 0, false},
    {kCmdHistoryDealByTicket, serve_history_deal_by_ticket, 0, false},
    {kCmdOrderCheck, serve_trade_request, 0, false},
    {kCmdOrderSend, serve_trade_request, 0, false},
    {kCmdOrderCalcMargin, serve_calculation, 0, false},
    {kCmdOrderCalcProfit, serve_calculation, 0, false},

    {kCmdTestSetPrice, serve_set_price, 0, true},
    {kCmdTestRollover, serve_run_rollover, 0, true},
};

const CommandEntry* find_command(uint32_t command) {
    for (const CommandEntry& entry : kCommands) {
        if (entry.command == command) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

void handle_request(Session& session, uint32_t command, const uint8_t* payload, size_t size,
                    std::vector<uint8_t>* out) {
    RequestReader in{payload, size, true};
    ReplyWriter reply(out, command);
    const TerminalConfig& config = terminal_config();
    const CommandEntry* entry = find_command(command);
    if (entry == nullptr || (entry->test_only && !config.test_controls)) {
        reply.finish(kStatusUnsupported);
    } else if (config.build < entry->min_build) {
        reply.finish(kStatusIncompatible);
    } else {
        entry->handler(session, command, in, reply);
    }
}
