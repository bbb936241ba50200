// The terminal's log file: one line per event, with a UTC time stamp.
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "terminal/market/clock.h"
#include "terminal/server/log.h"

static FILE* g_log = nullptr;

bool log_open(const std::string& path) {
    g_log = std::fopen(path.c_str(), "a");
    return g_log != nullptr;
}

void log_line(const char* format, ...) {
    if (g_log == nullptr) {
        return;
    }
    int64_t now_msc = market_now_msc();
    time_t seconds = (time_t)(now_msc / 1000);
    tm parts;
    gmtime_r(&seconds, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &parts);
    std::fprintf(g_log, "%s.%03d ", stamp, (int)(now_msc % 1000));
    va_list args;
    va_start(args, format);
    std::vfprintf(g_log, format, args);
    va_end(args);
    std::fputc('\n', g_log);
    std::fflush(g_log);
}
