// The files of a recovery. The salvage is written under a temporary name and
// only then swapped in, so that an interrupted recovery leaves the damaged
// database where it was; the damaged file is renamed, never rewritten.
#include "terminal/app/recover_db.h"

#include <cstdio>
#include <ctime>

#include "terminal/server/log.h"
#include "terminal/storage/recover.h"

static bool exists(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file) {
        std::fclose(file);
    }
    return file != nullptr;
}

// "<path>.damaged-YYYYMMDD-HHMMSS", with a number added when a recovery of the
// same second already took that name.
static std::string dated_name(const std::string& path) {
    time_t now = std::time(nullptr);
    tm parts;
    gmtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &parts);
    std::string name = path + ".damaged-" + stamp;
    for (int n = 2; exists(name); n++) {
        name = path + ".damaged-" + stamp + "-" + std::to_string(n);
    }
    return name;
}

static int refuse(const std::string& why) {
    std::fprintf(stderr, "terminal64: --recover-db: %s\n", why.c_str());
    log_line("recovery of the account database failed: %s", why.c_str());
    return 1;
}

int recover_database(const std::string& path) {
    if (!exists(path)) {
        return refuse("no account database at " + path);
    }
    std::string salvage = path + ".recovering";
    RecoveredRows rows;
    std::string error;
    if (!storage_recover(path, salvage, &rows, &error)) {
        std::remove(salvage.c_str());
        return refuse(error);
    }
    std::string kept = dated_name(path);
    if (std::rename(path.c_str(), kept.c_str()) != 0) {
        std::remove(salvage.c_str());
        return refuse("cannot rename " + path + " to " + kept);
    }
    // The damaged file's log of recent transactions belongs with it.
    std::rename((path + "-wal").c_str(), (kept + "-wal").c_str());
    std::rename((path + "-shm").c_str(), (kept + "-shm").c_str());
    if (std::rename(salvage.c_str(), path.c_str()) != 0) {
        return refuse("cannot rename " + salvage + " to " + path);
    }
    char report[512];
    std::snprintf(report, sizeof(report),
                  "saved %lld accounts, %lld positions, %lld orders and %lld deals into %s; the "
                  "damaged file is kept as %s",
                  (long long)rows.accounts, (long long)rows.positions, (long long)rows.orders,
                  (long long)rows.deals, path.c_str(), kept.c_str());
    std::printf("terminal64: %s\n", report);
    log_line("account database recovered: %s", report);
    return 0;
}
