// The terminal's enumerations, with the names and values that scripts written
// for this API use (the table constants.tsv beside this file). The Python package
// publishes the same values as named constants (python/quillmark/constants.py),
// and tests/test_terminal_constants.py keeps the three in step. Some enumerators are
// never produced by this terminal; they exist so that the three stay whole.
#pragma once

#include <cstdint>

// Timeframes: minutes below one hour, 0x4000 | hours, then week and month.
enum Timeframe : int32_t {
    kTimeframeM1 = 1,
    kTimeframeM2 = 2,
    kTimeframeM3 = 3,
    kTimeframeM4 = 4,
    kTimeframeM5 = 5,
    kTimeframeM6 = 6,
    kTimeframeM10 = 10,
    kTimeframeM12 = 12,
    kTimeframeM15 = 15,
    kTimeframeM20 = 20,
    kTimeframeM30 = 30,
    kTimeframeH1 = 0x4000 | 1,
    kTimeframeH2 = 0x4000 | 2,
    kTimeframeH3 = 0x4000 | 3,
    kTimeframeH4 = 0x4000 | 4,
    kTimeframeH6 = 0x4000 | 6,
    kTimeframeH8 = 0x4000 | 8,
    kTimeframeH12 = 0x4000 | 12,
    kTimeframeD1 = 0x4000 | 24,
    kTimeframeW1 = 0x8000 | 1,
    kTimeframeMN1 = 0xC000 | 1,
};

// Which ticks copy_ticks_from and copy_ticks_range return.
enum CopyTicks : int32_t {
    kCopyTicksAll = -1,
    kCopyTicksInfo = 1,   // bid or ask changed
    kCopyTicksTrade = 2,  // last or volume changed
};

// Bits of a tick's flags.
enum TickFlag : uint32_t {
    kTickFlagBid = 2,
    kTickFlagAsk = 4,
    kTickFlagLast = 8,
    kTickFlagVolume = 16,
    kTickFlagBuy = 32,
    kTickFlagSell = 64,
};

enum BookType : uint32_t {
    kBookTypeSell = 1,
    kBookTypeBuy = 2,
    kBookTypeSellMarket = 3,
    kBookTypeBuyMarket = 4,
};

enum TradeAction : uint32_t {
    kTradeActionDeal = 1,
    kTradeActionPending = 5,
    kTradeActionSltp = 6,
    kTradeActionModify = 7,
    kTradeActionRemove = 8,
    kTradeActionCloseBy = 10,
};

enum OrderType : uint32_t {
    kOrderTypeBuy = 0,
    kOrderTypeSell = 1,
    kOrderTypeBuyLimit = 2,
    kOrderTypeSellLimit = 3,
    kOrderTypeBuyStop = 4,
    kOrderTypeSellStop = 5,
    kOrderTypeBuyStopLimit = 6,
    kOrderTypeSellStopLimit = 7,
    kOrderTypeCloseBy = 8,
};

enum OrderFilling : uint32_t {
    kOrderFillingFok = 0,
    kOrderFillingIoc = 1,
    kOrderFillingReturn = 2,
    kOrderFillingBoc = 3,
};

enum OrderTime : uint32_t {
    kOrderTimeGtc = 0,
    kOrderTimeDay = 1,
    kOrderTimeSpecified = 2,
    kOrderTimeSpecifiedDay = 3,
};

enum OrderState : uint32_t {
    kOrderStateStarted = 0,
    kOrderStatePlaced = 1,
    kOrderStateCanceled = 2,
    kOrderStatePartial = 3,
    kOrderStateFilled = 4,
    kOrderStateRejected = 5,
    kOrderStateExpired = 6,
    kOrderStateRequestAdd = 7,
    kOrderStateRequestModify = 8,
    kOrderStateRequestCancel = 9,
};

enum PositionType : uint32_t {
    kPositionTypeBuy = 0,
    kPositionTypeSell = 1,
};

enum DealType : uint32_t {
    kDealTypeBuy = 0,
    kDealTypeSell = 1,
    kDealTypeBalance = 2,
    kDealTypeCredit = 3,
    kDealTypeCharge = 4,
    kDealTypeCorrection = 5,
    kDealTypeBonus = 6,
    kDealTypeCommission = 7,
    kDealTypeCommissionDaily = 8,
    kDealTypeCommissionMonthly = 9,
    kDealTypeCommissionAgentDaily = 10,
    kDealTypeCommissionAgentMonthly = 11,
    kDealTypeInterest = 12,
    kDealTypeBuyCanceled = 13,
    kDealTypeSellCanceled = 14,
    kDealDividend = 15,
    kDealDividendFranked = 16,
    kDealTax = 17,
};

enum DealEntry : uint32_t {
    kDealEntryIn = 0,
    kDealEntryOut = 1,
    kDealEntryInOut = 2,
    kDealEntryOutBy = 3,
};

// Why an order, deal or position came to be; positions use the first four,
// orders the first seven.
enum Reason : uint32_t {
    kReasonClient = 0,
    kReasonMobile = 1,
    kReasonWeb = 2,
    kReasonExpert = 3,
    kReasonSl = 4,
    kReasonTp = 5,
    kReasonStopOut = 6,
    kReasonRollover = 7,
    kReasonVmargin = 8,
    kReasonSplit = 9,
};

// retcode of order_send and order_check.
enum TradeRetcode : uint32_t {
    kRetcodeRequote = 10004,
    kRetcodeReject = 10006,
    kRetcodeCancel = 10007,
    kRetcodePlaced = 10008,
    kRetcodeDone = 10009,
    kRetcodeDonePartial = 10010,
    kRetcodeError = 10011,
    kRetcodeTimeout = 10012,
    kRetcodeInvalid = 10013,
    kRetcodeInvalidVolume = 10014,
    kRetcodeInvalidPrice = 10015,
    kRetcodeInvalidStops = 10016,
    kRetcodeTradeDisabled = 10017,
    kRetcodeMarketClosed = 10018,
    kRetcodeNoMoney = 10019,
    kRetcodePriceChanged = 10020,
    kRetcodePriceOff = 10021,
    kRetcodeInvalidExpiration = 10022,
    kRetcodeOrderChanged = 10023,
    kRetcodeTooManyRequests = 10024,
    kRetcodeNoChanges = 10025,
    kRetcodeServerDisablesAt = 10026,
    kRetcodeClientDisablesAt = 10027,
    kRetcodeLocked = 10028,
    kRetcodeFrozen = 10029,
    kRetcodeInvalidFill = 10030,
    kRetcodeConnection = 10031,
    kRetcodeOnlyReal = 10032,
    kRetcodeLimitOrders = 10033,
    kRetcodeLimitVolume = 10034,
    kRetcodeInvalidOrder = 10035,
    kRetcodePositionClosed = 10036,
    kRetcodeInvalidCloseVolume = 10038,
    kRetcodeCloseOrderExist = 10039,
    kRetcodeLimitPositions = 10040,
    kRetcodeRejectCancel = 10041,
    kRetcodeLongOnly = 10042,
    kRetcodeShortOnly = 10043,
    kRetcodeCloseOnly = 10044,
    kRetcodeFifoClose = 10045,
};

enum AccountTradeMode : uint32_t {
    kAccountTradeModeDemo = 0,
    kAccountTradeModeContest = 1,
    kAccountTradeModeReal = 2,
};

enum AccountMarginMode : uint32_t {
    kAccountMarginModeRetailNetting = 0,
    kAccountMarginModeExchange = 1,
    kAccountMarginModeRetailHedging = 2,
};

enum AccountStopoutMode : uint32_t {
    kAccountStopoutModePercent = 0,
    kAccountStopoutModeMoney = 1,
};

enum SymbolCalcMode : uint32_t {
    kSymbolCalcModeForex = 0,
    kSymbolCalcModeFutures = 1,
    kSymbolCalcModeCfd = 2,
    kSymbolCalcModeCfdIndex = 3,
    kSymbolCalcModeCfdLeverage = 4,
    kSymbolCalcModeForexNoLeverage = 5,
    kSymbolCalcModeExchStocks = 32,
    kSymbolCalcModeExchFutures = 33,
    kSymbolCalcModeExchOptions = 34,
    kSymbolCalcModeExchOptionsMargin = 36,
    kSymbolCalcModeExchBonds = 37,
    kSymbolCalcModeExchStocksMoex = 38,
    kSymbolCalcModeExchBondsMoex = 39,
    kSymbolCalcModeServCollateral = 64,
};

enum SymbolTradeMode : uint32_t {
    kSymbolTradeModeDisabled = 0,
    kSymbolTradeModeLongOnly = 1,
    kSymbolTradeModeShortOnly = 2,
    kSymbolTradeModeCloseOnly = 3,
    kSymbolTradeModeFull = 4,
};

enum SymbolExecution : uint32_t {
    kSymbolExecutionRequest = 0,
    kSymbolExecutionInstant = 1,
    kSymbolExecutionMarket = 2,
    kSymbolExecutionExchange = 3,
};

enum SymbolSwapMode : uint32_t {
    kSymbolSwapModeDisabled = 0,
    kSymbolSwapModePoints = 1,
    kSymbolSwapModeCurrencySymbol = 2,
    kSymbolSwapModeCurrencyMargin = 3,
    kSymbolSwapModeCurrencyDeposit = 4,
    kSymbolSwapModeInterestCurrent = 5,
    kSymbolSwapModeInterestOpen = 6,
    kSymbolSwapModeReopenCurrent = 7,
    kSymbolSwapModeReopenBid = 8,
};

enum SymbolChartMode : uint32_t {
    kSymbolChartModeBid = 0,
    kSymbolChartModeLast = 1,
};

enum DayOfWeek : uint32_t {
    kDayOfWeekSunday = 0,
    kDayOfWeekMonday = 1,
    kDayOfWeekTuesday = 2,
    kDayOfWeekWednesday = 3,
    kDayOfWeekThursday = 4,
    kDayOfWeekFriday = 5,
    kDayOfWeekSaturday = 6,
};

// How long a symbol's pending orders and stops live (order_gtc_mode).
enum SymbolOrdersLifetime : uint32_t {
    kSymbolOrdersGtc = 0,
    kSymbolOrdersDaily = 1,
    kSymbolOrdersDailyExcludingStops = 2,
};

enum SymbolOptionRight : uint32_t {
    kSymbolOptionRightCall = 0,
    kSymbolOptionRightPut = 1,
};

enum SymbolOptionMode : uint32_t {
    kSymbolOptionModeEuropean = 0,
    kSymbolOptionModeAmerican = 1,
};

// Bit sets of a symbol's filling_mode, expiration_mode and order_mode.
enum SymbolFillingFlag : int32_t {
    kSymbolFillingFok = 1,
    kSymbolFillingIoc = 2,
};
enum SymbolExpirationFlag : int32_t {
    kSymbolExpirationGtc = 1,
    kSymbolExpirationDay = 2,
    kSymbolExpirationSpecified = 4,
    kSymbolExpirationSpecifiedDay = 8,
};
enum SymbolOrderFlag : int32_t {
    kSymbolOrderMarket = 1,
    kSymbolOrderLimit = 2,
    kSymbolOrderStop = 4,
    kSymbolOrderStopLimit = 8,
    kSymbolOrderSl = 16,
    kSymbolOrderTp = 32,
    kSymbolOrderCloseBy = 64,
};

// Readiness states answered to command 109.
enum TerminalState : uint32_t {
    kTerminalConnecting = 1,
    kTerminalReady = 2,
    kTerminalAuthFailed = 3,
};
