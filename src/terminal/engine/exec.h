// Execution: what a filled order does to an account's positions, balance and
// history. Both client requests and the live engine (triggered orders,
// stops, stop-out) fill orders through these functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/engine/state.h"

// A hedging account holds any number of positions per symbol; a netting
// account holds at most one, found by netting_position.
bool is_hedging(const Book& book);
Position* netting_position(Book* book, const std::u16string& symbol);

// Volumes are kept to 8 decimals so that partial closes add up exactly.
double normalize_volume(double volume);
bool volume_is_zero(double volume);

// Fills `order` (a buy or sell of its volume, already ticketed) at `price`.
// With order.position_id set it closes that much of the position; otherwise
// it opens a position (hedging) or changes the symbol's one position
// (netting). The order goes to history as filled. Returns the deal ticket.
uint64_t fill_order(Book* book, Changes* changes, Order order, double price, int64_t now_msc);

// Closes the smaller of two opposite positions against the other; `order` is
// the close-by order. Returns the first deal's ticket.
uint64_t fill_close_by(Book* book, Changes* changes, Order order, uint64_t position,
                       uint64_t position_by, int64_t now_msc);

// A market order that closes `volume` of a position, for stops and stop-out.
Order closing_order(const Position& position, double volume, uint32_t reason, int64_t now_msc);

// Ends a pending order (cancelled, expired, rejected) and moves it to history.
void finish_pending(Book* book, Changes* changes, uint64_t ticket, uint32_t state, int64_t now_msc);

// What a request may touch: the account and one symbol's positions and
// orders, so that a check or a fill refused for lack of money can be undone.
struct Snapshot {
    Account account;
    uint64_t next_ticket;
    std::u16string symbol;
    std::vector<Position> positions;
    std::vector<Order> orders;
};
Snapshot take_snapshot(const Book& book, const std::u16string& symbol);
void restore_snapshot(Book* book, const Snapshot& snapshot);
