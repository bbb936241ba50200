// History of an account, read straight from the database.
#include "terminal/storage/database.h"
#include "terminal/storage/rows.h"

bool storage_history_orders(uint64_t login, int64_t from_msc, int64_t to_msc,
                            std::vector<Order>* out) {
    int64_t args[3] = {(int64_t)login, from_msc, to_msc};
    return select_rows(std::string("SELECT ") + kOrderColumns +
                           " FROM orders WHERE login = ? AND pending = 0"
                           " AND time_done_msc BETWEEN ? AND ? ORDER BY time_done_msc, ticket",
                       args, 3, read_order, out);
}

bool storage_history_orders_by_position(uint64_t login, uint64_t position,
                                        std::vector<Order>* out) {
    int64_t args[2] = {(int64_t)login, (int64_t)position};
    return select_rows(std::string("SELECT ") + kOrderColumns +
                           " FROM orders WHERE login = ? AND pending = 0 AND position_id = ?"
                           " ORDER BY time_done_msc, ticket",
                       args, 2, read_order, out);
}

bool storage_history_order(uint64_t login, uint64_t ticket, std::vector<Order>* out) {
    int64_t args[2] = {(int64_t)login, (int64_t)ticket};
    return select_rows(std::string("SELECT ") + kOrderColumns +
                           " FROM orders WHERE login = ? AND pending = 0 AND ticket = ?",
                       args, 2, read_order, out);
}

bool storage_deals(uint64_t login, int64_t from_msc, int64_t to_msc, std::vector<Deal>* out) {
    int64_t args[3] = {(int64_t)login, from_msc, to_msc};
    return select_rows(std::string("SELECT ") + kDealColumns +
                           " FROM deals WHERE login = ? AND time_msc BETWEEN ? AND ?"
                           " ORDER BY time_msc, ticket",
                       args, 3, read_deal, out);
}

bool storage_deals_by_position(uint64_t login, uint64_t position, std::vector<Deal>* out) {
    int64_t args[2] = {(int64_t)login, (int64_t)position};
    return select_rows(std::string("SELECT ") + kDealColumns +
                           " FROM deals WHERE login = ? AND position_id = ?"
                           " ORDER BY time_msc, ticket",
                       args, 2, read_deal, out);
}

bool storage_deal(uint64_t login, uint64_t ticket, std::vector<Deal>* out) {
    int64_t args[2] = {(int64_t)login, (int64_t)ticket};
    return select_rows(
        std::string("SELECT ") + kDealColumns + " FROM deals WHERE login = ? AND ticket = ?", args,
        2, read_deal, out);
}
