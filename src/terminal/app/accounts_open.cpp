// Opening the accounts is one step, so that a terminal that started without
// a usable database can take it again later the same way.
#include "terminal/app/accounts_open.h"

#include "terminal/engine/engine.h"
#include "terminal/server/config.h"

bool open_accounts(DatabaseFault* fault, std::string* error) {
    const TerminalConfig& config = terminal_config();
    *fault = kDatabaseUsable;
    if (!engine_open(accounts_database_path(), error, fault)) {
        return false;
    }
    for (const AccountSettings& account : config.accounts) {
        if (!engine_add_account(account, error)) {
            engine_close();
            return false;
        }
    }
    if (config.positions > 0 && !engine_open_test_positions(config.positions, error)) {
        engine_close();
        return false;
    }
    return true;
}
