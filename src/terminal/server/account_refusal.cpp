// The status and the log lines of a terminal whose account database cannot be
// used. The module shows a terminal's status only with its own fixed text, so
// the status is the one whose text comes closest: a newer schema is an
// incompatible version, and a database that cannot be read leaves no account
// to authorise.
#include "terminal/server/account_refusal.h"

#include "terminal/market/clock.h"
#include "terminal/server/config.h"
#include "terminal/server/handlers.h"
#include "terminal/server/log.h"
#include "wire/status.h"

static int32_t g_refusal = 0;
static AccountsOpener g_reopen = nullptr;

static std::string remedy(DatabaseFault fault) {
    const TerminalConfig& config = terminal_config();
    std::string command = config.executable + (config.portable ? " /portable" : "");
    switch (fault) {
        case kDatabaseNewer:
            return "a newer terminal64 wrote it; run that build, or move the file away to start "
                   "with new demo accounts";
        case kDatabaseUnreadable:
            return "make the file and its folder readable and writable by this user";
        case kDatabaseLocked:
            return "another process holds it; end that process";
        default:
            return "stop the terminal and run '" + command +
                   " --recover-db' to save what can still be read";
    }
}

void refuse_accounts(DatabaseFault fault, const std::string& reason, AccountsOpener reopen) {
    g_refusal = fault == kDatabaseNewer ? kStatusIncompatible : kStatusAuthFailed;
    g_reopen = reopen;
    log_line("account database %s cannot be used: %s", accounts_database_path().c_str(),
             reason.c_str());
    log_line("the file is left as it is and every login is refused with %d; to repair: %s",
             g_refusal, remedy(fault).c_str());
}

int32_t accounts_refusal() {
    return g_refusal;
}

void retry_accounts() {
    DatabaseFault fault = kDatabaseUsable;
    std::string error;
    if (g_refusal == 0 || g_reopen == nullptr) {
        return;
    }
    if (g_reopen(&fault, &error)) {
        g_refusal = 0;
        log_line("account database %s opened", accounts_database_path().c_str());
        connection_start(market_now_msc());
    } else if (fault != kDatabaseUsable) {
        refuse_accounts(fault, error, g_reopen);
    } else {
        log_line("accounts: %s", error.c_str());
    }
}
