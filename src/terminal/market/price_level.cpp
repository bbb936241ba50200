// The daily level of a symbol: its shared factors and its own part, each a
// random walk over days that is pulled back over a few months, so that prices
// wander like real ones yet stay in a believable band for decades.
#include <cmath>
#include <cstdint>

#include "terminal/market/calendar.h"
#include "terminal/market/price_model.h"

// Uniform in [-1, 1).
static double signed_unit(uint64_t bits) {
    return (double)(bits >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

double normal_draw(uint64_t key, int64_t index) {
    // The sum of four uniforms is close enough to normal for prices and
    // costs one hash.
    uint64_t bits = mix64(key ^ (uint64_t)index * 0xD1B54A32D192ED03ull);
    uint64_t sum =
        (bits & 0xFFFF) + ((bits >> 16) & 0xFFFF) + ((bits >> 32) & 0xFFFF) + (bits >> 48);
    return ((double)sum * (1.0 / 65536) - 2.0) * 1.7320508075688772;
}

// Levels of detail of the daily walk. Up to kRevertDays the amplitude of a
// level grows with the square root of its period, as a random walk's does;
// beyond, it shrinks again, which is what pulls the price back.
constexpr int kDayOctaves = 13;
constexpr double kRevertDays = 64;

static const double* octave_weights() {
    static double weights[kDayOctaves];
    if (weights[0] == 0) {
        for (int k = 0; k < kDayOctaves; k++) {
            double period = (double)((int64_t)1 << k);
            weights[k] =
                period <= kRevertDays ? std::sqrt(period) : kRevertDays / std::sqrt(period);
        }
    }
    return weights;
}

// Linear value noise with those weights: its day-to-day steps have a
// standard deviation of one.
static double walk(uint64_t key, int64_t day) {
    const double* weights = octave_weights();
    double sum = 0;
    for (int k = 0; k < kDayOctaves; k++) {
        int64_t cell = day >> k;  // an arithmetic shift floors negative days too
        uint64_t octave_key = key ^ ((uint64_t)k << 58);
        double left = signed_unit(mix64(octave_key ^ (uint64_t)cell * 0xD6E8FEB86659FD93ull));
        double right =
            signed_unit(mix64(octave_key ^ (uint64_t)(cell + 1) * 0xD6E8FEB86659FD93ull));
        double fraction = (double)(day - (cell << k)) / (double)((int64_t)1 << k);
        sum += (left + (right - left) * fraction) * weights[k];
    }
    return sum * 0.8660254037844386;
}

// Weekdays since the Monday before 1970; a weekend day counts as the Friday
// before it, so that markets closed at the weekend see no move over it.
static int64_t weekday_clock(int64_t day) {
    int64_t week = floor_div(day + 3, 7);  // 1970-01-01 was a Thursday
    int64_t weekday = day + 3 - week * 7;  // 0 is Monday
    return week * 5 + (weekday > 4 ? 4 : weekday);
}

double model_day_level(const PriceModel& model, int64_t day) {
    int64_t shared_clock = weekday_clock(day);
    double level = 0;
    for (int f = 0; f < kFactorCount; f++) {
        if (model.load[f] != 0) {
            level += model.load[f] * walk(model.factor_key[f], shared_clock);
        }
    }
    if (model.own != 0) {
        int64_t own_clock = model.schedule == kScheduleAlways ? day : shared_clock;
        level += model.own * walk(model.key, own_clock);
    }
    return level;
}
