// Accounts: the database's life cycle, the demo accounts, login and the
// account record.

#include <algorithm>

#include "terminal/engine/calc.h"
#include "terminal/engine/state.h"
#include "terminal/market/market.h"
#include "terminal/storage/database.h"
#include "wire/enums.h"
#include "wire/fields.h"

Engine g_engine = {};

namespace {

constexpr uint64_t kFirstTicket = 1000;
constexpr uint32_t kLimitOrders = 200;
constexpr double kMarginCallLevel = 50;
constexpr double kStopOutLevel = 30;
constexpr double kDemoCommission = 3.5;  // USD per lot and side

AccountSettings demo_account(uint64_t login, const char16_t* name, uint32_t margin_mode) {
    AccountSettings a = {};
    a.login = login;
    a.password = u"demo";
    a.server = u"Quillmark-Demo";
    a.name = name;
    a.company = u"Quillmark Simulated Markets";
    a.currency = u"USD";
    a.balance = 10000;
    a.leverage = 100;
    a.margin_mode = margin_mode;
    a.needs_otp = false;
    a.commission = kDemoCommission;
    return a;
}

Account new_account(const AccountSettings& settings) {
    Account account = {};
    account.settings = settings;
    account.settings.password.clear();
    account.password_digest = password_digest(settings.login, settings.password);
    account.margin_so_call = kMarginCallLevel;
    account.margin_so_so = kStopOutLevel;
    account.limit_orders = kLimitOrders;
    account.trade_allowed = true;
    account.trade_expert = true;
    return account;
}

// Creates the account with its opening balance as a deposit deal.
void create_account(const AccountSettings& settings, Changes* changes) {
    Account account = new_account(settings);
    account.settings.balance = 0;
    double deposit = money(settings.balance);
    if (deposit > 0) {
        account.settings.balance = deposit;
        changes->deals.push_back(deposit_deal(settings.login, deposit, market_now_msc()));
    }
    g_engine.books[settings.login].account = account;
    changes->accounts.insert(settings.login);
}

// Loads the stored state; a new database starts its tickets at the first one.
bool load_state(std::string* error) {
    StoredState stored;
    bool loaded = storage_load(&stored, error);
    g_engine.books.clear();
    for (const Account& account : stored.accounts) {
        g_engine.books[account.settings.login].account = account;
    }
    for (const Position& p : stored.positions) {
        Book* book = find_book(p.login);
        if (book) {
            book->positions.emplace(p.ticket, p);
            positions_changed(book);
        }
    }
    for (const Order& o : stored.pending_orders) {
        Book* book = find_book(o.login);
        if (book) {
            book->orders.emplace(o.ticket, o);
        }
    }
    g_engine.current_login = stored.counters.current_login;
    g_engine.next_ticket = std::max(stored.counters.next_ticket, kFirstTicket);
    g_engine.rollover_day = stored.counters.rollover_day;
    return loaded;
}

}  // namespace

uint64_t take_ticket() {
    return g_engine.next_ticket++;
}

Deal deposit_deal(uint64_t login, double amount, int64_t now_msc) {
    Deal deal = {};
    deal.ticket = take_ticket();
    deal.login = login;
    deal.time_msc = now_msc;
    deal.type = kDealTypeBalance;
    deal.entry = kDealEntryIn;
    deal.reason = kReasonClient;
    deal.profit = amount;
    deal.comment = u"Deposit";
    return deal;
}

Book* find_book(uint64_t login) {
    auto found = g_engine.books.find(login);
    return found == g_engine.books.end() ? nullptr : &found->second;
}

Book* current_book() {
    return g_engine.open ? find_book(g_engine.current_login) : nullptr;
}

const std::vector<const Position*>& positions_in_order(const Book& book) {
    // The size check keeps a missed positions_changed from showing a
    // position twice or one that is gone.
    if (book.position_list_stale || book.position_list.size() != book.positions.size()) {
        book.position_list.clear();
        book.position_list.reserve(book.positions.size());
        for (const auto& entry : book.positions) {
            book.position_list.push_back(&entry.second);
        }
        book.position_list_stale = false;
    }
    return book.position_list;
}

void positions_changed(Book* book) {
    book->position_list_stale = true;
}

void change_position(Changes* changes, const Position& position) {
    changes->positions_deleted.erase(position.ticket);
    changes->positions_put[position.ticket] = position;
}

void change_position_deleted(Changes* changes, uint64_t ticket) {
    changes->positions_put.erase(ticket);
    changes->positions_deleted.insert(ticket);
}

void change_order(Changes* changes, const Order& order) {
    changes->orders_put[order.ticket] = order;
}

bool commit_changes(const Changes& changes) {
    std::vector<const Account*> accounts;
    for (uint64_t login : changes.accounts) {
        const Book* book = find_book(login);
        if (book) {
            accounts.push_back(&book->account);
        }
    }
    StoredCounters counters{g_engine.next_ticket, g_engine.current_login, g_engine.rollover_day};
    if (storage_write(changes, accounts, counters)) {
        return true;
    }
    std::string ignored;
    load_state(&ignored);
    return false;
}

bool engine_open(const std::string& database_path, std::string* error) {
    engine_close();
    if (!storage_open(database_path, error) || !load_state(error)) {
        storage_close();
        return false;
    }
    g_engine.open = true;
    if (g_engine.books.empty()) {
        Changes changes;
        create_account(demo_account(10001, u"Demo Hedging", kAccountMarginModeRetailHedging),
                       &changes);
        create_account(demo_account(10002, u"Demo Netting", kAccountMarginModeRetailNetting),
                       &changes);
        g_engine.current_login = 10001;
        if (!commit_changes(changes)) {
            if (error) {
                *error = "cannot create the demo accounts";
            }
            engine_close();
            return false;
        }
    }
    if (!find_book(g_engine.current_login)) {
        g_engine.current_login = g_engine.books.begin()->first;
    }
    // The simulated server kept its clock while the terminal was closed:
    // positions held over a midnight pay its swap even if no terminal ran.
    engine_rollover(market_now_msc());
    return true;
}

void engine_close() {
    storage_close();
    g_engine = Engine{};
}

bool engine_add_account(const AccountSettings& settings, std::string* error) {
    if (!g_engine.open || settings.login == 0) {
        if (error) {
            *error = g_engine.open ? "login 0 is not an account" : "the engine is not open";
        }
        return false;
    }
    Changes changes;
    Book* book = find_book(settings.login);
    if (book) {
        // A known account keeps its balance and trades; only its settings change.
        double balance = book->account.settings.balance;
        Account account = new_account(settings);
        account.settings.balance = balance;
        account.credit = book->account.credit;
        book->account = account;
        changes.accounts.insert(settings.login);
    } else {
        create_account(settings, &changes);
    }
    if (!commit_changes(changes)) {
        if (error) {
            *error = "cannot store the account";
        }
        return false;
    }
    return true;
}

LoginResult engine_login(uint64_t login, const char16_t* password, const char16_t* server) {
    Book* book = login == 0 ? current_book() : (g_engine.open ? find_book(login) : nullptr);
    if (!book) {
        return kLoginRejected;
    }
    const Account& account = book->account;
    std::u16string given_server = server ? server : u"";
    if (!given_server.empty() && given_server != account.settings.server) {
        return kLoginRejected;
    }
    // An empty password logs in with the one saved for the account.
    std::u16string given_password = password ? password : u"";
    if (!given_password.empty() &&
        password_digest(account.settings.login, given_password) != account.password_digest) {
        return kLoginRejected;
    }
    if (account.settings.needs_otp) {
        return kLoginNeedsOtp;
    }
    if (g_engine.current_login != account.settings.login) {
        g_engine.current_login = account.settings.login;
        commit_changes(Changes{});
    }
    return kLoginAccepted;
}

void engine_account_info(AccountInfoRecord* record) {
    *record = AccountInfoRecord{};
    Book* book = current_book();
    if (!book) {
        return;
    }
    const Account& a = book->account;
    Figures f = book_figures(*book);
    record->login = a.settings.login;
    record->trade_mode = kAccountTradeModeDemo;
    record->leverage = a.settings.leverage;
    record->limit_orders = a.limit_orders;
    record->margin_so_mode = kAccountStopoutModePercent;
    record->trade_allowed = a.trade_allowed;
    record->trade_expert = a.trade_expert;
    record->margin_mode = a.settings.margin_mode;
    record->currency_digits = 2;
    record->fifo_close = 0;
    record->balance = a.settings.balance;
    record->credit = a.credit;
    record->profit = f.profit;
    record->equity = f.equity;
    record->margin = f.margin;
    record->margin_free = f.margin_free;
    record->margin_level = f.margin_level;
    record->margin_so_call = a.margin_so_call;
    record->margin_so_so = a.margin_so_so;
    FIELD_PUT(record->name, a.settings.name.c_str());
    FIELD_PUT(record->server, a.settings.server.c_str());
    FIELD_PUT(record->currency, a.settings.currency.c_str());
    FIELD_PUT(record->company, a.settings.company.c_str());
}
