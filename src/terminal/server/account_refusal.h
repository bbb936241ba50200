// Serving while the account database cannot be used. The terminal still
// answers the handshake and the version, and every other command with one
// status, so that a script learns within a moment that it cannot go on
// (instead of waiting for a pipe that never comes), and the log says why.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/storage/database.h"

// Opens the accounts again; false with the fault and a reason.
typedef bool (*AccountsOpener)(DatabaseFault* fault, std::string* error);

// Logs why the account database cannot be used and what repairs it; from
// then on every command but the handshake and the version is refused, until
// `reopen` succeeds: it is tried at each handshake, so that a database set
// right (a lock let go, access granted, a recovery) serves the next script
// without a restart.
void refuse_accounts(DatabaseFault fault, const std::string& reason, AccountsOpener reopen);

// At a handshake: tries to open the refused accounts again.
void retry_accounts();

// The status that refuses a command; 0 while the accounts are in use.
int32_t accounts_refusal();
