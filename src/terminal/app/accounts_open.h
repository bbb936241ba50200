// The accounts at start: the database opened, the accounts of the command
// line added and the benchmarks' positions opened.
#pragma once

#include <string>

#include "terminal/storage/database.h"

// False with a reason; `fault` says why when the database itself cannot be
// used, and stays kDatabaseUsable when a later step failed.
bool open_accounts(DatabaseFault* fault, std::string* error);
