// The terminal's clocks, on every platform from the standard library.
#include "terminal/market/clock.h"

#include <chrono>

int64_t market_now_msc() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t steady_now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
