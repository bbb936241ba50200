// terminal64: the bundled terminal. It serves the pipe protocol over a
// simulated market and a durable simulated account.
#include <cstdio>
#include <cstring>
#include <string>

#include "link/pipe_name.h"
#include "link/platform/platform.h"
#include "terminal/app/data_folder.h"
#include "terminal/app/options.h"
#include "terminal/app/start.h"
#include "terminal/engine/engine.h"
#include "terminal/market/catalogue.h"
#include "terminal/market/csv_import.h"
#include "terminal/market/market.h"
#include "terminal/server/config.h"
#include "terminal/server/handlers.h"
#include "terminal/server/log.h"
#include "terminal/server/server.h"
#include "wire/text.h"

static int fail(const char* what, const std::string& why) {
    std::fprintf(stderr, "terminal64: %s: %s\n", what, why.c_str());
    log_line("%s: %s", what, why.c_str());
    return 1;
}

static bool import_history(std::string* error) {
    const TerminalConfig& config = terminal_config();
    for (int ticks = 0; ticks < 2; ticks++) {
        for (const std::string& item : ticks ? config.import_ticks : config.import_bars) {
            size_t equals = item.find('=');
            char16_t name[32];
            utf8_to_utf16(item.substr(0, equals).c_str(), name, 32);
            Symbol* symbol = find_symbol(name);
            if (symbol == nullptr) {
                *error = "unknown symbol in " + item;
                return false;
            }
            if (!symbol->imported) {
                symbol->imported.reset(new ImportedSeries());
            }
            std::string path = item.substr(equals + 1);
            bool ok = ticks ? csv_read_ticks(path, &symbol->imported->ticks, error)
                            : csv_read_bars(path, &symbol->imported->bars, error);
            if (!ok) {
                return false;
            }
            log_line("imported %s", item.c_str());
        }
    }
    return true;
}

static bool add_accounts(std::string* error) {
    for (const AccountSettings& account : terminal_config().accounts) {
        if (!engine_add_account(account, error)) {
            return false;
        }
    }
    return true;
}

int main(int argc, char** argv) {
    TerminalConfig& config = terminal_config();
    std::string error;
    start_arguments(&argc, &argv);
    // Asking for help, or mistyping an option, must never start a terminal:
    // it would take the pipe that scripts connect to.
    bool parsed = parse_options(argc, argv, &config, &error);
    if (!parsed || config.show_help) {
        start_attach_console();
    }
    if (!parsed) {
        std::fprintf(stderr, "terminal64: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (config.show_help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!own_path(&config.executable)) {
        return fail("start", "cannot find the program's own path");
    }
    config.install_folder =
        config.executable.substr(0, config.executable.rfind((char)kPathSeparator));

    char16_t path16[kCanonicalPathUnits * 4];
    uint8_t digest[kPathDigestBytes];
    char16_t pipe_name[kPipeNameUnits];
    std::string address;
    utf8_to_utf16(config.executable.c_str(), path16, sizeof(path16) / sizeof(path16[0]));
    if (!pipe_name_for_path(path16, digest, pipe_name)) {
        return fail("start", "cannot derive the pipe name");
    }
    if (!server_address(pipe_name, &address, &error)) {
        return fail("socket folder", error);
    }
    if (!take_instance_lock(address)) {
        return 0;  // already running for this executable
    }
    if (!data_folder_prepare(&config, digest, &error)) {
        return fail("data folder", error);
    }
    log_open(config.data_folder + "/logs/terminal.log");
    log_line("terminal64 build %u starting from %s%s", config.build, config.executable.c_str(),
             config.portable ? " (portable)" : "");

    catalogue_build(config.seed, config.symbols, config.history_days);
    if (!import_history(&error)) {
        return fail("import", error);
    }
    if (!engine_open(config.data_folder + "/config/accounts.dat", &error)) {
        return fail("account database", error);
    }
    if (!add_accounts(&error)) {
        engine_close();
        return fail("accounts", error);
    }
    if (config.positions > 0 && !engine_open_test_positions(config.positions, &error)) {
        engine_close();
        return fail("test positions", error);
    }
    connection_start(market_now_msc());
    bool served = server_run(address, &error);
    engine_close();
    if (!served) {
        return fail("server", error);
    }
    return 0;
}
