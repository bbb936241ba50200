// The program's settings: from the command line, and its folders once found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/engine/engine.h"

struct TerminalConfig {
    uint32_t build = 4000;
    bool portable = false;
    bool no_autotrading = false;
    bool test_controls = false;
    bool show_help = false;
    bool recover_db = false;
    uint32_t symbols = 0;
    uint32_t history_days = 0;  // 0: history from 2010-01-01
    uint64_t seed = 1;
    uint32_t positions = 0;
    // A virtual clock for replays: from start_msc at `speed` times real time
    // up to until_msc (0: on and on). Without --start the clock is wall time.
    int64_t start_msc = 0;
    double speed = 1;
    int64_t until_msc = 0;
    std::vector<std::string> import_bars;   // SYMBOL=FILE
    std::vector<std::string> import_ticks;  // SYMBOL=FILE
    std::vector<AccountSettings> accounts;  // from --add-account
    // Filled at start-up.
    std::string executable;  // canonical path of this program
    std::string install_folder;
    std::string data_folder;  // config, logs and the account database live here
    std::string common_folder;
};

TerminalConfig& terminal_config();
// config/accounts.dat in the data folder.
std::string accounts_database_path();
