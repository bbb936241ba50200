// Every command id the module sends to the terminal, in one list.
#pragma once

#include <cstdint>

enum Command : uint32_t {
    kCmdVersion = 1,
    kCmdHandshake = 4,
    kCmdLogin = 5,
    kCmdTicksFrom = 104,
    kCmdTicksRange = 105,
    kCmdRatesFrom = 106,
    kCmdRatesRange = 107,
    kCmdRatesFromPos = 108,
    kCmdReadyState = 109,
    kCmdPositionsTotal = 120,
    kCmdPositionsGet = 121,
    kCmdPositionsBySymbol = 122,
    kCmdPositionByTicket = 123,
    kCmdOrdersTotal = 130,
    kCmdOrdersGet = 131,
    kCmdOrdersBySymbol = 132,
    kCmdOrderByTicket = 133,
    kCmdHistoryOrdersTotal = 140,
    kCmdHistoryOrdersGet = 141,
    kCmdHistoryOrdersByPosition = 142,
    kCmdHistoryOrderByTicket = 143,
    kCmdHistoryDealsTotal = 150,
    kCmdHistoryDealsGet = 151,
    kCmdHistoryDealsByPosition = 152,
    kCmdHistoryDealByTicket = 153,
    kCmdOrderCheck = 160,
    kCmdOrderSend = 161,
    kCmdOrderCalcMargin = 162,
    kCmdOrderCalcProfit = 163,
    kCmdSymbolInfo = 170,
    kCmdSymbolSelect = 171,
    kCmdSymbolInfoTick = 172,
    kCmdSymbolsTotal = 173,
    kCmdSymbolsGet = 174,
    kCmdSymbolsGetGroup = 175,
    kCmdTerminalInfo = 180,
    kCmdAccountInfo = 190,
    kCmdMarketBookAdd = 191,
    kCmdMarketBookRelease = 192,
    kCmdMarketBookGet = 193,
};

// The first terminal build that answers commands 173 to 175 and sends the
// full symbol record.
constexpr uint32_t kBuildSymbolsApi = 2364;
