// The command line: each option and what it sets in the program's settings.
#include "terminal/app/options.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "wire/enums.h"
#include "wire/text.h"

static bool whole_number(const char* text, uint64_t limit, uint64_t* value) {
    char* end = nullptr;
    if (text == nullptr || *text == 0 || *text == '-') {
        return false;
    }
    unsigned long long parsed = std::strtoull(text, &end, 10);
    if (*end != 0 || parsed > limit) {
        return false;
    }
    *value = parsed;
    return true;
}

const char kUsage[] =
    "usage: terminal64 [/portable] [options]\n"
    "  --build N                build number told in the handshake (default 4000;\n"
    "                           below 2364 the terminal acts as an old build)\n"
    "  --symbols N              catalogue of N symbols, generated ones added\n"
    "  --history-days N         days of history before today (default: from 2010-01-01)\n"
    "  --seed N                 seed of the simulated prices (default 1)\n"
    "  --no-autotrading         order_send is refused with -8\n"
    "  --test-controls          accept the test-only commands: 60001 forces a price,\n"
    "                           60002 runs the daily swap rollovers up to a time\n"
    "  --import-bars S=FILE     M1 bars of symbol S from a CSV file\n"
    "  --import-ticks S=FILE    ticks of symbol S from a CSV file\n"
    "  --add-account L:PASSWORD:SERVER:CURRENCY:BALANCE:LEVERAGE:hedging|netting[:otp]\n"
    "  --positions N            open N test positions on the current account\n"
    "  -h, --help               print this help and exit\n";

bool parse_options(int argc, char** argv, TerminalConfig* config, std::string* error) {
    int at = 1;
    if (at < argc && std::strcmp(argv[at], "/portable") == 0) {
        config->portable = true;
        at++;
    }
    for (; at < argc; at++) {
        std::string option = argv[at];
        const char* value = at + 1 < argc ? argv[at + 1] : nullptr;
        uint64_t number = 0;
        bool takes_value = true;
        if (option == "--help" || option == "-h") {
            config->show_help = true;
            takes_value = false;
        } else if (option == "--no-autotrading") {
            config->no_autotrading = true;
            takes_value = false;
        } else if (option == "--test-controls") {
            config->test_controls = true;
            takes_value = false;
        } else if (option == "--build" && whole_number(value, UINT32_MAX, &number)) {
            config->build = (uint32_t)number;
        } else if (option == "--symbols" && whole_number(value, 1000000, &number)) {
            config->symbols = (uint32_t)number;
        } else if (option == "--history-days" && whole_number(value, 20000, &number)) {
            config->history_days = (uint32_t)number;
        } else if (option == "--seed" && whole_number(value, UINT64_MAX, &number)) {
            config->seed = number;
        } else if (option == "--positions" && whole_number(value, 10000000, &number)) {
            config->positions = (uint32_t)number;
        } else if (option == "--import-bars" && value != nullptr && std::strchr(value, '=')) {
            config->import_bars.push_back(value);
        } else if (option == "--import-ticks" && value != nullptr && std::strchr(value, '=')) {
            config->import_ticks.push_back(value);
        } else if (option == "--add-account" && value != nullptr) {
            AccountSettings account;
            if (!parse_account(value, &account)) {
                *error = std::string("bad account: ") + value;
                return false;
            }
            config->accounts.push_back(account);
        } else {
            *error = "unknown option or bad value: " + option;
            return false;
        }
        if (takes_value) {
            at++;
        }
    }
    return true;
}

static std::u16string wide(const std::string& text) {
    char16_t buffer[256];
    utf8_to_utf16(text.c_str(), buffer, 256);
    return buffer;
}

bool parse_account(const std::string& text, AccountSettings* account) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ':')) {
        parts.push_back(part);
    }
    uint64_t login = 0, leverage = 0;
    char* end = nullptr;
    if (parts.size() < 7 || parts.size() > 8 ||
        !whole_number(parts[0].c_str(), UINT64_MAX, &login) || login == 0 ||
        !whole_number(parts[5].c_str(), 100000, &leverage) || leverage == 0) {
        return false;
    }
    double balance = std::strtod(parts[4].c_str(), &end);
    if (*end != 0 || !(balance >= 0)) {
        return false;
    }
    if (parts[6] != "hedging" && parts[6] != "netting") {
        return false;
    }
    if (parts.size() == 8 && parts[7] != "otp") {
        return false;
    }
    account->login = login;
    account->password = wide(parts[1]);
    account->server = wide(parts[2]);
    account->currency = wide(parts[3]);
    account->name = wide("Account " + parts[0]);
    account->company = u"Quillmark Markets";
    account->balance = balance;
    account->leverage = (uint32_t)leverage;
    account->margin_mode =
        parts[6] == "hedging" ? kAccountMarginModeRetailHedging : kAccountMarginModeRetailNetting;
    account->needs_otp = parts.size() == 8;
    account->commission = 0;
    return true;
}
