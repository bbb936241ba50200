// Finding an installed terminal through the per-user data folders.
#pragma once

#include <cstdint>

#include "link/client.h"

struct TerminalCandidate {
    char16_t exe_path[261];  // empty: the folder was not accepted
    uint64_t last_used;      // last-write time of the folder's markers, 0 if none
    uint8_t portable;        // the folder holds "portable.txt"
};

// Picks the terminal that started this process if it is installed, else the
// one used most recently, and opens it. On false, `error_text` says why.
bool discover_terminal(CInterClient& link);
// Fills the candidate from one data folder; true when it names an existing
// terminal executable.
bool check_data_folder(CInterClient& link, const char16_t* folder, TerminalCandidate* candidate);
