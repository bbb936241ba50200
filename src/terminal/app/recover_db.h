// terminal64 --recover-db: a new account database of what the damaged one
// still holds, with the damaged file kept beside it.
#pragma once

#include <string>

// Returns the program's exit status; tells the user on standard output or
// error, and in the log.
int recover_database(const std::string& path);
