// Bars and ticks imported from CSV files given on the command line.
#include "terminal/market/csv_import.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "terminal/market/calendar.h"
#include "wire/enums.h"

// Milliseconds since 1970; a bare number is taken in `unit_ms`.
static bool parse_time(const std::string& text, int64_t unit_ms, int64_t* msc) {
    int year, month, day, hour = 0, minute = 0, second = 0, milli = 0;
    char s1, s2;
    int fields = std::sscanf(text.c_str(), "%d%c%d%c%d %d:%d:%d.%d", &year, &s1, &month, &s2, &day,
                             &hour, &minute, &second, &milli);
    if (fields >= 7 && (s1 == '-' || s1 == '.') && s1 == s2 && month >= 1 && month <= 12 &&
        day >= 1 && day <= 31) {
        *msc = ((days_from_civil(year, month, day) * 24 + hour) * 60 + minute) * 60000 +
               second * 1000 + milli;
        return true;
    }
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != 0) {
        return false;
    }
    *msc = value * unit_ms;
    return true;
}

static std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',' || c == ';' || c == '\t') {
            fields.emplace_back();
        } else if (c != '\r' && c != '"') {
            fields.back().push_back(c);
        }
    }
    for (std::string& field : fields) {
        while (!field.empty() && field.front() == ' ') {
            field.erase(field.begin());
        }
        while (!field.empty() && field.back() == ' ') {
            field.pop_back();
        }
    }
    return fields;
}

static bool number(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == 0 && std::isfinite(*value);
}

// Calls `row` for each data line; stops with a message naming the line.
template <typename Row>
static bool read_rows(const std::string& path, std::string* error, Row row) {
    std::ifstream file(path);
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); number++) {
        if (line.empty() || line == "\r") {
            continue;
        }
        if (number == 1 && std::isalpha((unsigned char)line[0])) {
            continue;
        }
        std::string reason;
        if (!row(split(line), &reason)) {
            *error = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
    }
    return true;
}

bool csv_read_bars(const std::string& path, std::vector<RateRecord>* bars, std::string* error) {
    bool ok = read_rows(path, error, [&](const std::vector<std::string>& f, std::string* why) {
        int64_t msc;
        double v[7] = {0, 0, 0, 0, 0, 0, 0};
        if (f.size() < 5 || !parse_time(f[0], 1000, &msc)) {
            *why = "expected time,open,high,low,close";
            return false;
        }
        for (size_t i = 1; i < f.size() && i < 8; i++) {
            if (!number(f[i], &v[i - 1])) {
                *why = "not a number: " + f[i];
                return false;
            }
        }
        RateRecord bar = {};
        bar.time = msc / 1000;
        bar.open = v[0];
        bar.high = v[1];
        bar.low = v[2];
        bar.close = v[3];
        bar.tick_volume = (uint64_t)std::max(0.0, v[4]);
        bar.spread = (int32_t)v[5];
        bar.real_volume = (uint64_t)std::max(0.0, v[6]);
        if (msc % 60000 != 0) {
            *why = "a bar must open on a whole minute";
            return false;
        }
        if (!(v[2] > 0) || v[1] < std::max(v[0], v[3]) || v[2] > std::min(v[0], v[3])) {
            *why = "high and low do not enclose open and close";
            return false;
        }
        if (!bars->empty() && bar.time <= bars->back().time) {
            *why = "bars must be in increasing time order";
            return false;
        }
        if (bar.tick_volume == 0) {
            bar.tick_volume = 1;
        }
        bars->push_back(bar);
        return true;
    });
    if (ok && bars->empty()) {
        *error = path + ": no bars";
        return false;
    }
    return ok;
}

bool csv_read_ticks(const std::string& path, std::vector<TickRecord>* ticks, std::string* error) {
    bool ok = read_rows(path, error, [&](const std::vector<std::string>& f, std::string* why) {
        int64_t msc;
        double v[5] = {0, 0, 0, 0, -1};
        if (f.size() < 3 || !parse_time(f[0], 1, &msc)) {
            *why = "expected time,bid,ask";
            return false;
        }
        for (size_t i = 1; i < f.size() && i < 6; i++) {
            if (!number(f[i], &v[i - 1])) {
                *why = "not a number: " + f[i];
                return false;
            }
        }
        TickRecord tick = {};
        tick.time_msc = msc;
        tick.time = floor_div(msc, 1000);
        tick.bid = v[0];
        tick.ask = v[1];
        tick.last = v[2];
        tick.volume = (uint64_t)std::max(0.0, v[3]);
        tick.volume_real = std::max(0.0, v[3]);
        if (!(tick.bid > 0) || tick.ask < tick.bid) {
            *why = "bid must be positive and not above ask";
            return false;
        }
        if (!ticks->empty() && msc < ticks->back().time_msc) {
            *why = "ticks must be in time order";
            return false;
        }
        if (v[4] >= 0) {
            tick.flags = (uint32_t)v[4];
        } else {
            const TickRecord* before = ticks->empty() ? nullptr : &ticks->back();
            if (before == nullptr || before->bid != tick.bid)
                tick.flags |= kTickFlagBid;
            if (before == nullptr || before->ask != tick.ask)
                tick.flags |= kTickFlagAsk;
            if (tick.volume > 0)
                tick.flags |= kTickFlagLast | kTickFlagVolume;
        }
        ticks->push_back(tick);
        return true;
    });
    if (ok && ticks->empty()) {
        *error = path + ": no ticks";
        return false;
    }
    return ok;
}
