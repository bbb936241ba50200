// The status and the log lines of a terminal whose account database cannot be
// used. The module shows a terminal's status only with its own fixed text, so
// the status is the one whose text comes closest: a newer schema is an
// incompatible version, and a database that cannot be read leaves no account
// to authorise.
#include "terminal/server/account_refusal.h"

#include "terminal/server/config.h"
#include "terminal/server/log.h"
#include "wire/status.h"

static int32_t g_refusal = 0;

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
            return "another process holds it; end that process, then restart the terminal";
        default:
            return "stop the terminal and run '" + command +
                   " --recover-db' to save what can still be read";
    }
}

void refuse_accounts(DatabaseFault fault, const std::string& reason, const std::string& path) {
    g_refusal = fault == kDatabaseNewer ? kStatusIncompatible : kStatusAuthFailed;
    log_line("account database %s cannot be used: %s", path.c_str(), reason.c_str());
    log_line("the file is left as it is and every login is refused with %d; to repair: %s",
             g_refusal, remedy(fault).c_str());
}

int32_t accounts_refusal() {
    return g_refusal;
}
