// Serving while the account database cannot be used. The terminal still
// answers the handshake and the version, and every other command with one
// status, so that a script learns within a moment that it cannot go on
// (instead of waiting for a pipe that never comes), and the log says why.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/storage/database.h"

// Logs why the database at `path` cannot be used and what repairs it; from
// then on every command but the handshake and the version is refused.
void refuse_accounts(DatabaseFault fault, const std::string& reason, const std::string& path);

// The status that refuses a command; 0 while the accounts are in use.
int32_t accounts_refusal();
