// Trade requests: each action checked against the account, the symbol and the
// market, then executed. order_check runs the same steps and puts everything
// back; order_send commits what they changed before it answers.
#include <cmath>

#include "terminal/engine/actions.h"
#include "terminal/engine/calc.h"
#include "terminal/engine/exec.h"
#include "terminal/engine/rules.h"
#include "terminal/engine/state.h"
#include "terminal/market/market.h"
#include "wire/enums.h"
#include "wire/fields.h"

namespace {

bool is_success(uint32_t retcode) {
    return retcode == kRetcodeDone || retcode == kRetcodePlaced;
}

Request make_request(const TradeRequestRecord& record) {
    Request request;
    request.record = &record;
    request.symbol = FIELD_GET(record.symbol);
    request.comment = FIELD_GET(record.comment);
    request.now_msc = market_now_msc();
    return request;
}

void put_comment(uint8_t* field, size_t bytes, const Outcome& out) {
    const char16_t* text = out.comment.empty() ? retcode_comment(out.retcode) : out.comment.c_str();
    field_put(field, bytes, text);
}

}  // namespace

int32_t engine_order_check(const TradeRequestRecord& record, OrderCheckRecord* result) {
    *result = OrderCheckRecord{};
    Book* book = current_book();
    if (!book) {
        return -1;
    }
    Request request = make_request(record);
    Figures before = book_figures(*book);
    Snapshot snapshot = take_snapshot(*book, affected_symbol(book, request));
    Changes changes;
    Outcome out = {};
    run_request(book, request, &changes, &out);
    Figures after = book_figures(*book);
    double balance = book->account.settings.balance;
    restore_snapshot(book, snapshot);
    if (is_success(out.retcode)) {
        out.retcode = money_suffices(before, after) ? 0 : (uint32_t)kRetcodeNoMoney;
        out.comment.clear();
    } else {
        after = before;
        balance = book->account.settings.balance;
    }
    result->retcode = out.retcode;
    result->balance = balance;
    result->equity = after.equity;
    result->profit = after.profit;
    result->margin = after.margin;
    result->margin_free = after.margin_free;
    result->margin_level = after.margin_level;
    put_comment(result->comment, sizeof(result->comment), out);
    return 0;
}

int32_t engine_order_send(const TradeRequestRecord& record, OrderSendRecord* result) {
    *result = OrderSendRecord{};
    result->request_id = ++g_engine.next_request_id;
    Book* book = current_book();
    if (!book) {
        return -1;
    }
    Request request = make_request(record);
    std::u16string symbol = affected_symbol(book, request);
    bool is_deal = record.action == kTradeActionDeal;
    Figures before = {};
    Snapshot snapshot = {};
    if (is_deal) {
        // Only a market deal can raise the margin, so only it may be undone.
        before = book_figures(*book);
        snapshot = take_snapshot(*book, symbol);
    }
    Changes changes;
    Outcome out = {};
    if (run_request(book, request, &changes, &out)) {
        if (is_deal && !money_suffices(before, book_figures(*book))) {
            restore_snapshot(book, snapshot);
            out = Outcome{};
            out.retcode = kRetcodeNoMoney;
        } else if (!commit_changes(changes)) {
            out = Outcome{};
            out.retcode = kRetcodeError;
            out.comment = u"Trade not stored";
        }
    }
    result->retcode = out.retcode;
    result->deal = out.deal;
    result->order = out.order;
    result->volume = out.volume;
    result->price = out.price;
    const SymbolInfoRecord* info = symbol_info(symbol);
    if (info) {
        result->bid = info->bid;
        result->ask = info->ask;
    }
    put_comment(result->comment, sizeof(result->comment), out);
    return 0;
}
