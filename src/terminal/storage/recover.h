// Salvage of a damaged account database: every row that SQLite can still
// read, copied into a new database.
#pragma once

#include <cstdint>
#include <string>

struct RecoveredRows {
    int64_t accounts = 0;
    int64_t positions = 0;
    int64_t orders = 0;
    int64_t deals = 0;
    int64_t settings = 0;
};

// Reads `damaged` without writing to it and makes a new database at `into`
// (replacing whatever is there) of the rows it could read, table by table.
// False with a reason when nothing could be salvaged at all: the file is no
// database, or a newer build wrote it.
bool storage_recover(const std::string& damaged, const std::string& into, RecoveredRows* rows,
                     std::string* error);
