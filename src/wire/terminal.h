// Wire records of terminal_info and account_info. Packed, little-endian; text
// fields are UTF-16 units stored as bytes so that they carry no alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// The wire order differs from TerminalInfo: build first, tradeapi_disabled last.
struct TerminalInfoRecord {
    uint32_t build;
    uint8_t community_account;
    uint8_t community_connection;
    uint8_t connected;
    uint8_t dlls_allowed;
    uint8_t trade_allowed;
    uint8_t email_enabled;
    uint8_t ftp_enabled;
    uint8_t notifications_enabled;
    uint32_t maxbars;
    uint8_t bxid;
    int32_t codepage;
    int32_t ping_last;
    double community_balance;
    double retransmission;
    uint8_t company[520];  // 260 units each
    uint8_t name[520];
    uint8_t language[520];
    uint8_t path[520];
    uint8_t data_path[520];
    uint8_t commondata_path[520];
    uint8_t tradeapi_disabled;
};

struct AccountInfoRecord {
    uint64_t login;
    uint32_t trade_mode;
    uint32_t leverage;
    uint32_t limit_orders;
    uint32_t margin_so_mode;
    uint8_t trade_allowed;
    uint8_t trade_expert;
    uint32_t margin_mode;
    uint32_t currency_digits;
    uint8_t fifo_close;
    double balance;
    double credit;
    double profit;
    double equity;
    double margin;
    double margin_free;
    double margin_level;
    double margin_so_call;
    double margin_so_so;
    double margin_initial;
    double margin_maintenance;
    double assets;
    double liabilities;
    double commission_blocked;
    uint8_t name[256];     // 128 units
    uint8_t server[128];   // 64 units
    uint8_t currency[64];  // 32 units
    uint8_t company[256];  // 128 units
};

#pragma pack(pop)

static_assert(sizeof(TerminalInfoRecord) == 3162, "terminal record size");
static_assert(offsetof(TerminalInfoRecord, build) == 0, "");
static_assert(offsetof(TerminalInfoRecord, community_account) == 4, "");
static_assert(offsetof(TerminalInfoRecord, community_connection) == 5, "");
static_assert(offsetof(TerminalInfoRecord, connected) == 6, "");
static_assert(offsetof(TerminalInfoRecord, dlls_allowed) == 7, "");
static_assert(offsetof(TerminalInfoRecord, trade_allowed) == 8, "");
static_assert(offsetof(TerminalInfoRecord, email_enabled) == 9, "");
static_assert(offsetof(TerminalInfoRecord, ftp_enabled) == 10, "");
static_assert(offsetof(TerminalInfoRecord, notifications_enabled) == 11, "");
static_assert(offsetof(TerminalInfoRecord, maxbars) == 12, "");
static_assert(offsetof(TerminalInfoRecord, bxid) == 16, "");
static_assert(offsetof(TerminalInfoRecord, codepage) == 17, "");
static_assert(offsetof(TerminalInfoRecord, ping_last) == 21, "");
static_assert(offsetof(TerminalInfoRecord, community_balance) == 25, "");
static_assert(offsetof(TerminalInfoRecord, retransmission) == 33, "");
static_assert(offsetof(TerminalInfoRecord, company) == 41, "");
static_assert(offsetof(TerminalInfoRecord, name) == 561, "");
static_assert(offsetof(TerminalInfoRecord, language) == 1081, "");
static_assert(offsetof(TerminalInfoRecord, path) == 1601, "");
static_assert(offsetof(TerminalInfoRecord, data_path) == 2121, "");
static_assert(offsetof(TerminalInfoRecord, commondata_path) == 2641, "");
static_assert(offsetof(TerminalInfoRecord, tradeapi_disabled) == 3161, "");

static_assert(sizeof(AccountInfoRecord) == 851, "account record size");
static_assert(offsetof(AccountInfoRecord, login) == 0, "");
static_assert(offsetof(AccountInfoRecord, trade_mode) == 8, "");
static_assert(offsetof(AccountInfoRecord, leverage) == 12, "");
static_assert(offsetof(AccountInfoRecord, limit_orders) == 16, "");
static_assert(offsetof(AccountInfoRecord, margin_so_mode) == 20, "");
static_assert(offsetof(AccountInfoRecord, trade_allowed) == 24, "");
static_assert(offsetof(AccountInfoRecord, trade_expert) == 25, "");
static_assert(offsetof(AccountInfoRecord, margin_mode) == 26, "");
static_assert(offsetof(AccountInfoRecord, currency_digits) == 30, "");
static_assert(offsetof(AccountInfoRecord, fifo_close) == 34, "");
static_assert(offsetof(AccountInfoRecord, balance) == 35, "");
static_assert(offsetof(AccountInfoRecord, credit) == 43, "");
static_assert(offsetof(AccountInfoRecord, profit) == 51, "");
static_assert(offsetof(AccountInfoRecord, equity) == 59, "");
static_assert(offsetof(AccountInfoRecord, margin) == 67, "");
static_assert(offsetof(AccountInfoRecord, margin_free) == 75, "");
static_assert(offsetof(AccountInfoRecord, margin_level) == 83, "");
static_assert(offsetof(AccountInfoRecord, margin_so_call) == 91, "");
static_assert(offsetof(AccountInfoRecord, margin_so_so) == 99, "");
static_assert(offsetof(AccountInfoRecord, margin_initial) == 107, "");
static_assert(offsetof(AccountInfoRecord, margin_maintenance) == 115, "");
static_assert(offsetof(AccountInfoRecord, assets) == 123, "");
static_assert(offsetof(AccountInfoRecord, liabilities) == 131, "");
static_assert(offsetof(AccountInfoRecord, commission_blocked) == 139, "");
static_assert(offsetof(AccountInfoRecord, name) == 147, "");
static_assert(offsetof(AccountInfoRecord, server) == 403, "");
static_assert(offsetof(AccountInfoRecord, currency) == 531, "");
static_assert(offsetof(AccountInfoRecord, company) == 595, "");
