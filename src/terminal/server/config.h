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
    uint32_t symbols = 0;
    uint32_t history_days = 0;  // 0: history from 2010-01-01
    uint64_t seed = 1;
    uint32_t positions = 0;
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
