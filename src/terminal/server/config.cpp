// The one settings object of the program.
#include "terminal/server/config.h"

TerminalConfig& terminal_config() {
    static TerminalConfig config;
    return config;
}

std::string accounts_database_path() {
    return terminal_config().data_folder + "/config/accounts.dat";
}
