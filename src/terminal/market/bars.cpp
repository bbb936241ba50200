// Bars of every timeframe from one-minute bars, and the three bar queries.
#include "terminal/market/bars.h"

#include <algorithm>

#include "terminal/market/calendar.h"
#include "terminal/market/series.h"
#include "wire/enums.h"
#include "wire/frames.h"
#include "wire/status.h"

int64_t timeframe_minutes(int32_t timeframe) {
    switch (timeframe) {
        case kTimeframeM1:
        case kTimeframeM2:
        case kTimeframeM3:
        case kTimeframeM4:
        case kTimeframeM5:
        case kTimeframeM6:
        case kTimeframeM10:
        case kTimeframeM12:
        case kTimeframeM15:
        case kTimeframeM20:
        case kTimeframeM30:
            return timeframe;
        case kTimeframeH1:
        case kTimeframeH2:
        case kTimeframeH3:
        case kTimeframeH4:
        case kTimeframeH6:
        case kTimeframeH8:
        case kTimeframeH12:
        case kTimeframeD1:
            return (timeframe & 0x3FFF) * 60;
        case kTimeframeW1:
            return 7 * 1440;
        default:
            return 0;
    }
}

bool timeframe_valid(int32_t timeframe) {
    return timeframe == kTimeframeMN1 || timeframe_minutes(timeframe) > 0;
}

int64_t bar_start(int32_t timeframe, int64_t minute) {
    if (timeframe == kTimeframeMN1) {
        int64_t year;
        unsigned month;
        civil_from_days(floor_div(minute, 1440), &year, &month);
        return days_from_civil(year, month, 1) * 1440;
    }
    if (timeframe == kTimeframeW1) {
        // Weeks open on Sunday; 1970-01-04 was one.
        return floor_div(minute - 3 * 1440, 7 * 1440) * 7 * 1440 + 3 * 1440;
    }
    int64_t period = timeframe_minutes(timeframe);
    return floor_div(minute, period) * period;
}

// Bars are made a chunk at a time: a day for timeframes up to a day, else one
// bar's span, so that no bar ever straddles two chunks.
static int64_t chunk_start(int32_t timeframe, int64_t minute) {
    if (timeframe == kTimeframeMN1 || timeframe == kTimeframeW1) {
        return bar_start(timeframe, minute);
    }
    return floor_div(minute, 1440) * 1440;
}

static int64_t chunk_end(int32_t timeframe, int64_t start) {
    if (timeframe == kTimeframeMN1) {
        return bar_start(timeframe, start + 32 * 1440);
    }
    return start + (timeframe == kTimeframeW1 ? 7 * 1440 : 1440);
}

static void chunk_bars(Symbol& symbol, int32_t timeframe, int64_t start, int64_t now_msc,
                       std::vector<RateRecord>* finer, std::vector<RateRecord>* out) {
    if (timeframe == kTimeframeM1) {
        series_m1_bars(symbol, start, chunk_end(timeframe, start), now_msc, out);
        return;
    }
    // Bars of an hour or longer are made of hour bars, which the model makes
    // without going through every minute.
    finer->clear();
    if (timeframe_minutes(timeframe) >= 60 || timeframe == kTimeframeMN1) {
        series_h1_bars(symbol, start, chunk_end(timeframe, start), now_msc, finer);
    } else {
        series_m1_bars(symbol, start, chunk_end(timeframe, start), now_msc, finer);
    }
    size_t first = out->size();
    for (const RateRecord& bar : *finer) {
        bar_add(out, first, bar_start(timeframe, bar.time / 60) * 60, bar);
    }
}

// Walks back from the bar holding `last_minute`, skipping `skip` bars, and
// puts the count and up to `count` bars into the reply; fails when they
// would be more than one reply may carry.
static int32_t collect_back(Symbol& symbol, int32_t timeframe, int64_t last_minute, int64_t skip,
                            int64_t count, int64_t now_msc, ReplyWriter& reply) {
    // Chunks newest first, each in time order, so that a million bars are
    // copied once, straight into the reply, instead of being gathered
    // backwards and turned around. Skipped bars are not kept.
    std::vector<std::vector<RateRecord>> chunks;
    std::vector<RateRecord> finer, chunk;
    int64_t first = series_first_minute(symbol);
    int64_t wanted = std::min<int64_t>(count, (int64_t)kMaxBars + 1);
    int64_t found = 0;
    for (int64_t start = chunk_start(timeframe, last_minute);
         found < wanted && chunk_end(timeframe, start) > first;
         start = chunk_start(timeframe, start - 1)) {
        chunk.clear();
        chunk_bars(symbol, timeframe, start, now_msc, &finer, &chunk);
        while (!chunk.empty() && chunk.back().time > last_minute * 60) {
            chunk.pop_back();
        }
        if (skip >= (int64_t)chunk.size()) {
            skip -= (int64_t)chunk.size();
            continue;
        }
        chunk.resize(chunk.size() - (size_t)skip);
        skip = 0;
        found += (int64_t)chunk.size();
        chunks.push_back(std::move(chunk));
        chunk = std::vector<RateRecord>();
    }
    if (found > (int64_t)kMaxBars && count > (int64_t)kMaxBars) {
        return kStatusNoMemory;
    }
    // In time order the kept bars are those after the `older` oldest ones.
    int64_t kept = std::min(count, found);
    int64_t older = found - kept;
    reply.expect(4 + (size_t)kept * sizeof(RateRecord));
    reply.u32((uint32_t)kept);
    for (size_t i = chunks.size(); i-- > 0;) {
        const std::vector<RateRecord>& part = chunks[i];
        int64_t begin = std::min<int64_t>(older, (int64_t)part.size());
        older -= begin;
        reply.put(part.data() + begin, (part.size() - (size_t)begin) * sizeof(RateRecord));
    }
    return 0;
}

int32_t rates_from(Symbol& symbol, int32_t timeframe, int64_t date_from, int32_t count,
                   int64_t now_msc, ReplyWriter& reply) {
    if (!timeframe_valid(timeframe) || count < 0) {
        return -2;
    }
    int64_t last = std::min(floor_div(date_from, 60), now_msc / 60000);
    return collect_back(symbol, timeframe, last, 0, count, now_msc, reply);
}

int32_t rates_from_pos(Symbol& symbol, int32_t timeframe, int32_t start_pos, int32_t count,
                       int64_t now_msc, ReplyWriter& reply) {
    if (!timeframe_valid(timeframe) || count < 0 || start_pos < 0) {
        return -2;
    }
    return collect_back(symbol, timeframe, now_msc / 60000, start_pos, count, now_msc, reply);
}

int32_t rates_range(Symbol& symbol, int32_t timeframe, int64_t date_from, int64_t date_to,
                    int64_t now_msc, ReplyWriter& reply) {
    if (!timeframe_valid(timeframe)) {
        return -2;
    }
    int64_t first = std::max(floor_div(date_from, 60), series_first_minute(symbol));
    int64_t last = std::min(floor_div(date_to, 60), now_msc / 60000);
    std::vector<RateRecord> m1, chunk;
    // Room for at most as many bars as the period holds, so that a large
    // reply does not grow by doubling, which would hold the old buffer and
    // one twice its size at once. Pages not written to cost nothing.
    if (first <= last) {
        int64_t minutes = timeframe == kTimeframeMN1 ? 28 * 1440 : timeframe_minutes(timeframe);
        int64_t most = (last - first) / minutes + 2;
        reply.expect(4 + (size_t)std::min<int64_t>(most, kMaxBars) * sizeof(RateRecord));
    }
    reply.u32(0);  // the count, known at the end
    size_t count = 0;
    for (int64_t start = chunk_start(timeframe, first); start <= last;
         start = chunk_end(timeframe, start)) {
        chunk.clear();
        chunk_bars(symbol, timeframe, start, now_msc, &m1, &chunk);
        // The bars of a chunk in the range follow one another.
        size_t begin = 0, end = chunk.size();
        while (begin < end && chunk[begin].time < date_from) {
            begin++;
        }
        while (end > begin && chunk[end - 1].time > date_to) {
            end--;
        }
        if (count + (end - begin) > kMaxBars) {
            return kStatusNoMemory;
        }
        reply.put(chunk.data() + begin, (end - begin) * sizeof(RateRecord));
        count += end - begin;
    }
    reply.patch_u32(12, (uint32_t)count);
    return 0;
}
