// Depth of market: the entries around a symbol's current prices.
#include "terminal/market/depth.h"

#include <cmath>

#include "terminal/market/live.h"
#include "wire/enums.h"

void depth_levels(Symbol& symbol, int64_t now_msc, std::vector<BookInfoRecord>* out) {
    if (!live_refresh(symbol, now_msc)) {
        return;
    }
    const TickRecord& tick = symbol.live.tick;
    double scale = symbol.model.scale;
    int64_t step = symbol.model.spread / 4 > 1 ? symbol.model.spread / 4 : 1;
    int64_t bid = std::llround(tick.bid * scale);
    int64_t ask = std::llround(tick.ask * scale);
    uint32_t depth = symbol.info.ticks_bookdepth;
    // Volumes change every second and differ by level.
    uint64_t second = (uint64_t)(now_msc / 1000);
    double volume_step = symbol.info.volume_step;
    for (uint32_t side = 0; side < 2; side++) {
        for (uint32_t i = 0; i < depth; i++) {
            uint32_t level = side == 0 ? depth - 1 - i : i;
            BookInfoRecord entry = {};
            entry.type = side == 0 ? kBookTypeSell : kBookTypeBuy;
            int64_t units = side == 0 ? ask + (int64_t)level * step : bid - (int64_t)level * step;
            entry.price = (double)units / scale;
            uint64_t bits = mix64(symbol.model.key ^ (second * 64 + side * 32 + level));
            double lots = (double)(1 + bits % 400) * (1 + level) * symbol.info.volume_min;
            entry.volume_dbl = std::nearbyint(lots / volume_step) * volume_step;
            entry.volume = (uint64_t)std::llround(entry.volume_dbl);
            if (entry.price > 0) {
                out->push_back(entry);
            }
        }
    }
}
