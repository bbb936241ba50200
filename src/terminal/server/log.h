// The terminal's log file in its data folder.
#pragma once

#include <string>

bool log_open(const std::string& path);

void log_line(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
