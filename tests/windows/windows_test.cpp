// The link on Windows against the real bundled terminal, run under Wine by
// run.sh: pipe names, launch with and without "/portable", several clients,
// broken pipes, discovery in the roaming application-data folder, and the
// error texts of launch and discovery.
//
//   windows_test --terminal A --second B --portable P --missing M
//                --digest PATH=HEX ...     (expected SHA-256 of PATH's pipe)
//   windows_test --child PARENT_ID          (used by the parent-process check)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/call.h"
#include "link/client.h"
#include "wire/commands.h"
#include "link/discovery.h"
#include "link/launch.h"
#include "link/pipe_name.h"
#include "link/platform/platform.h"
#include "wire/status.h"
#include "wire/text.h"
#include "wire/bars.h"
#include "wire/symbols.h"
#include "windows_checks.h"

struct Options {
    std::u16string terminal, second, portable, missing;
    std::string accented_digest;
    std::vector<std::pair<std::u16string, std::string>> digests;
};

static std::string digest_hex(const uint8_t digest[kPathDigestBytes]) {
    char hex[2 * kPathDigestBytes + 1];
    for (size_t i = 0; i < kPathDigestBytes; i++) {
        std::snprintf(hex + 2 * i, 3, "%02X", digest[i]);
    }
    return hex;
}

static std::string digest_of(const std::u16string& path) {
    uint8_t digest[kPathDigestBytes];
    char16_t name[kPipeNameUnits];
    if (!pipe_name_for_path(path.c_str(), digest, name)) {
        return "no digest";
    }
    return digest_hex(digest);
}

// ---- Pipe names ----

static void check_pipe_names(const Options& options) {
    for (const auto& expected : options.digests) {
        uint8_t digest[kPathDigestBytes];
        char16_t name[kPipeNameUnits];
        std::string path = narrow(expected.first);
        bool made = pipe_name_for_path(expected.first.c_str(), digest, name);
        check(made && digest_hex(digest) == expected.second, "digest of '%s' is %s (got %s)",
              path.c_str(), expected.second.c_str(), made ? digest_hex(digest).c_str() : "none");
        std::u16string want = u"\\\\.\\pipe\\ZRV.Terminal." + widen(expected.second);
        check(made && want == name && text_length(name) == 86, "pipe name of '%s'", path.c_str());
    }
}

// ---- Handshake and raw requests ----

static int32_t handshake(uint32_t* build) {
    const uint32_t kind = 3;
    RequestField request[] = {request_bytes(&kind, 4), request_text(u"Python")};
    ReplyField reply = reply_fixed(build, 4);
    return client_call(kCmdHandshake, request, 2, &reply, 1);
}

// A handshake on `link` while it stands in for the process's one link.
static int32_t handshake_on(CInterClient& link, uint32_t* build) {
    std::swap(client.pipe, link.pipe);
    int32_t status = handshake(build);
    std::swap(client.pipe, link.pipe);
    return status;
}

static bool write_raw(PlatformHandle pipe, const std::vector<uint8_t>& bytes) {
    uint32_t moved = 0, error = 0;
    return platform_pipe_write(pipe, bytes.data(), (uint32_t)bytes.size(), &moved, &error);
}

static void put_u32(std::vector<uint8_t>* bytes, uint32_t value) {
    for (int i = 0; i < 4; i++) {
        bytes->push_back((uint8_t)(value >> (8 * i)));
    }
}

static std::vector<uint8_t> handshake_request() {
    std::vector<uint8_t> bytes;
    std::u16string name = u"Python";
    put_u32(&bytes, 4 + 4 + 4 + 2 * (uint32_t)name.size());
    put_u32(&bytes, kCmdHandshake);
    put_u32(&bytes, 3);
    put_u32(&bytes, (uint32_t)name.size());
    for (char16_t unit : name) {
        bytes.push_back((uint8_t)unit);
        bytes.push_back((uint8_t)(unit >> 8));
    }
    return bytes;
}

// Reads one whole reply; false unless it echoes `command` with status >= 0.
static bool read_raw_reply(PlatformHandle pipe, uint32_t command) {
    uint32_t length = 0, moved = 0, error = 0;
    if (!platform_pipe_read(pipe, &length, 4, &moved, &error) || length < 8 || length > 65536) {
        return false;
    }
    std::vector<uint8_t> body(length);
    if (!platform_pipe_read(pipe, body.data(), length, &moved, &error)) {
        return false;
    }
    uint32_t echoed;
    int32_t status;
    std::memcpy(&echoed, body.data(), 4);
    std::memcpy(&status, body.data() + 4, 4);
    return echoed == command && status >= 0;
}

// Replies far larger than the pipe's buffers arrive whole and in order: the
// symbol list, then a long run of one-minute bars of its first symbol.
static void check_large_replies() {
    void* symbols = nullptr;
    uint32_t symbol_count = 0;
    ReplyField list = reply_array(&symbols, &symbol_count, sizeof(SymbolInfoRecord));
    int32_t status = client_call(kCmdSymbolsGet, nullptr, 0, &list, 1);
    check(status >= 0 && symbol_count > 0, "symbols_get: status %d, %u records of %u bytes",
          (int)status, (unsigned)symbol_count, (unsigned)sizeof(SymbolInfoRecord));
    if (status < 0 || symbol_count == 0) {
        return;
    }
    char16_t symbol[33] = {};
    std::memcpy(symbol, ((SymbolInfoRecord*)symbols)->name, 64);
    std::free(symbols);

    const int32_t timeframe = 1, start = 0, wanted = 100000;
    RequestField request[] = {request_text(symbol), request_bytes(&timeframe, 4),
                              request_bytes(&start, 4), request_bytes(&wanted, 4)};
    void* bars = nullptr;
    uint32_t bar_count = 0;
    ReplyField reply = reply_array(&bars, &bar_count, sizeof(RateRecord));
    DWORD started = GetTickCount();
    status = client_call(kCmdRatesFromPos, request, 4, &reply, 1);
    DWORD elapsed = GetTickCount() - started;
    bool ordered = status >= 0 && bar_count > 1000;
    const RateRecord* rates = (const RateRecord*)bars;
    for (uint32_t i = 1; ordered && i < bar_count; i++) {
        ordered = rates[i].time > rates[i - 1].time;
    }
    check(ordered, "%u bars of %s (%u bytes) arrive in order in %lu ms", (unsigned)bar_count,
          narrow(symbol).c_str(), (unsigned)(bar_count * sizeof(RateRecord)),
          (unsigned long)elapsed);
    std::free(bars);
}

// ---- Data folders ----

static std::u16string terminals_folder() {
    char16_t roaming[kErrorTextUnits];
    if (!platform_user_data_folder(roaming, kErrorTextUnits)) {
        return u"";
    }
    return std::u16string(roaming) + u"\\Brevonix\\Terminal";
}

// The accepted data folder whose origin names `exe`, through discovery's own
// check; false when there is none.
static bool find_data_folder(const std::u16string& exe, TerminalCandidate* found) {
    std::vector<std::u16string> names = folder_entries(terminals_folder());
    for (const std::u16string& name : names) {
        CInterClient scratch;
        std::u16string folder = terminals_folder() + u"\\" + name;
        if (check_data_folder(scratch, folder.c_str(), found) &&
            same_file(found->exe_path, exe.c_str())) {
            return true;
        }
    }
    return false;
}

// ---- Launch ----

static void check_launch_errors(const Options& options) {
    CInterClient link;
    bool opened = open_terminal(link, options.missing.c_str(), false);
    std::string want = "Process create failed '" + narrow(options.missing) + "'";
    check(!opened && narrow(link.error_text) == want, "missing terminal: %s (got '%s')",
          want.c_str(), narrow(link.error_text).c_str());

    std::u16string long_path = u"C:\\" + std::u16string(260, u'x');
    opened = open_terminal(link, long_path.c_str(), false);
    check(!opened && narrow(link.error_text) == "Path too long", "a 263-unit path is too long");
}

static void check_start(const std::u16string& exe, bool portable) {
    client.close();
    DWORD started = GetTickCount();
    bool opened = open_terminal(client, exe.c_str(), portable);
    DWORD elapsed = GetTickCount() - started;
    check(opened, "terminal %s started%s and reached in %lu ms", narrow(exe).c_str(),
          portable ? " portable" : "", (unsigned long)elapsed);
    // Kept where the module keeps it: the commands of newer builds need it.
    client.terminal_build = 0;
    int32_t status = opened ? handshake(&client.terminal_build) : kStatusNoIpcConnection;
    uint32_t build = client.terminal_build;
    check(status >= 0 && build > 0, "handshake through client_call: status %d, build %u",
          (int)status, (unsigned)build);

    TerminalCandidate candidate;
    bool found = find_data_folder(exe, &candidate);
    check(found && candidate.portable == (portable ? 1 : 0),
          "its data folder is there and %s portable", portable ? "is" : "is not");
}

// The portable terminal keeps its settings in its installation folder.
static void check_portable_settings(const std::u16string& exe) {
    std::u16string folder = exe.substr(0, exe.rfind(u'\\'));
    std::string ini = read_text_file(folder + u"\\config\\terminal.ini");
    check(ini.find("Portable=1") != std::string::npos,
          "the portable terminal keeps config\\terminal.ini in its installation folder");
}

// A second client is served while the first has a request outstanding.
static void check_second_client(const Options& options) {
    bool sent = write_raw(client.pipe, handshake_request());
    CInterClient second;
    DWORD started = GetTickCount();
    bool opened = open_terminal(second, options.terminal.c_str(), false);
    check(sent && opened && GetTickCount() - started < 5000,
          "a second client connects to the running terminal while the first waits");
    uint32_t build = 0;
    check(opened && handshake_on(second, &build) >= 0 && build > 0,
          "the second client is answered");
    check(read_raw_reply(client.pipe, kCmdHandshake), "the first client's reply still arrives");

    // A request no terminal accepts makes it drop the client: the next call
    // finds the pipe broken and closes the link for good.
    std::vector<uint8_t> bad;
    put_u32(&bad, 0x7FFFFFF0u);
    put_u32(&bad, kCmdHandshake);
    write_raw(second.pipe, bad);
    int32_t status = handshake_on(second, &build);
    check((status == kStatusIpcRecvFailed || status == kStatusIpcSendFailed) &&
              second.pipe == kInvalidHandle,
          "a dropped client's call fails (%d) and closes the link", (int)status);
    check(handshake_on(second, &build) == kStatusNoIpcConnection,
          "then every call reports no link");
}

// Clients that open the pipe all at once, each as soon as an instance is
// free: some then connect to an instance the terminal has made but not yet
// listens on, and each of them must be served like any other.
struct BurstClient {
    const char16_t* pipe_name;
    int served = 0;
};

constexpr int kBurstClients = 8;
constexpr int kBurstRounds = 10;

static DWORD WINAPI burst_client(void* context) {
    BurstClient& burst = *(BurstClient*)context;
    for (int round = 0; round < kBurstRounds; round++) {
        PlatformHandle pipe = kInvalidHandle;
        uint32_t error = 0;
        char refusal[256];
        DWORD started = GetTickCount();
        while (pipe == kInvalidHandle && GetTickCount() - started < 10000) {
            pipe = platform_pipe_open(burst.pipe_name, &error, refusal, sizeof(refusal));
            if (pipe == kInvalidHandle && error == kErrorPipeBusy) {
                platform_pipe_wait(burst.pipe_name);
            }
        }
        bool answered = pipe != kInvalidHandle && write_raw(pipe, handshake_request()) &&
                        read_raw_reply(pipe, kCmdHandshake);
        if (pipe != kInvalidHandle) {
            platform_pipe_close(pipe);
        }
        if (!answered) {
            return 1;
        }
        burst.served++;
    }
    return 0;
}

static void check_client_burst(const Options& options) {
    uint8_t digest[kPathDigestBytes];
    char16_t name[kPipeNameUnits];
    pipe_name_for_path(options.terminal.c_str(), digest, name);
    BurstClient bursts[kBurstClients];
    HANDLE threads[kBurstClients];
    for (int i = 0; i < kBurstClients; i++) {
        bursts[i].pipe_name = name;
        threads[i] = CreateThread(nullptr, 0, burst_client, &bursts[i], 0, nullptr);
    }
    // A terminal that loses a client leaves it waiting for ever.
    DWORD waited = WaitForMultipleObjects(kBurstClients, threads, TRUE, 60000);
    int served = 0;
    for (int i = 0; i < kBurstClients; i++) {
        served += bursts[i].served;
    }
    check(waited != WAIT_TIMEOUT && served == kBurstClients * kBurstRounds,
          "%d clients opening at once are all served (%d of %d handshakes)", kBurstClients, served,
          kBurstClients * kBurstRounds);
    if (waited == WAIT_TIMEOUT) {
        return;  // the threads stay blocked; the process ends with them
    }
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
}

// Far more clients than one wait could cover stay connected together: every
// one is served, each request sent before any reply is read.
constexpr int kManyClients = 200;

static PlatformHandle open_within(const char16_t* name, DWORD limit_ms) {
    PlatformHandle pipe = kInvalidHandle;
    uint32_t error = 0;
    char refusal[256];
    DWORD started = GetTickCount();
    while (pipe == kInvalidHandle && GetTickCount() - started < limit_ms) {
        pipe = platform_pipe_open(name, &error, refusal, sizeof(refusal));
        if (pipe == kInvalidHandle && error == kErrorPipeBusy) {
            WaitNamedPipeW(reinterpret_cast<const wchar_t*>(name), 1000);
        }
    }
    return pipe;
}

static void check_many_clients(const Options& options) {
    uint8_t digest[kPathDigestBytes];
    char16_t name[kPipeNameUnits];
    pipe_name_for_path(options.terminal.c_str(), digest, name);
    std::vector<PlatformHandle> pipes;
    for (int i = 0; i < kManyClients; i++) {
        PlatformHandle pipe = open_within(name, 10000);
        if (pipe == kInvalidHandle) {
            break;
        }
        pipes.push_back(pipe);
    }
    int sent = 0;
    for (PlatformHandle pipe : pipes) {
        sent += write_raw(pipe, handshake_request()) ? 1 : 0;
    }
    int answered = 0;
    for (PlatformHandle pipe : pipes) {
        answered += read_raw_reply(pipe, kCmdHandshake) ? 1 : 0;
        platform_pipe_close(pipe);
    }
    check(pipes.size() == kManyClients && sent == kManyClients && answered == kManyClients,
          "%d clients connected at once all get a handshake answer (%d connected, %d sent, "
          "%d answered)",
          kManyClients, (int)pipes.size(), sent, answered);
}

// Ends the terminal at the other end of the process's link; the next call
// must find the pipe broken and drop the link.
static void check_terminal_gone(const char* which) {
    ULONG server = 0;
    bool known =
        client.pipe != kInvalidHandle && GetNamedPipeServerProcessId((HANDLE)client.pipe, &server);
    HANDLE process = known ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, server) : nullptr;
    bool ended = process != nullptr && TerminateProcess(process, 0) &&
                 WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    if (process != nullptr) {
        CloseHandle(process);
    }
    uint32_t build = 0;
    int32_t status = handshake(&build);
    check(ended && status < 0 && client.pipe == kInvalidHandle,
          "terminal %s ended: the pipe breaks (status %d) and the link closes", which, (int)status);
}

// ---- Discovery ----

static void check_discovery_empty() {
    CInterClient link;
    bool found = discover_terminal(link);
    check(!found && narrow(link.error_text) == "Quillmark x64 not found",
          "with no data folder discovery reports 'Quillmark x64 not found' (got '%s')",
          narrow(link.error_text).c_str());
}

static void check_folder_errors(const std::u16string& base, const std::u16string& install) {
    std::u16string no_vorn = base + u"\\NoVorn";
    std::u16string no_origin = base + u"\\NoOrigin";
    std::u16string no_mark = base + u"\\NoByteOrderMark";
    make_folder(no_vorn);
    make_folder(no_origin + u"\\VORN");
    make_folder(no_mark + u"\\VORN");
    write_file(no_mark + u"\\origin.txt", narrow(install));
    write_file(base + u"\\stray.txt", "a file, not a data folder");

    CInterClient link;
    TerminalCandidate candidate;
    bool ok = check_data_folder(link, no_vorn.c_str(), &candidate);
    std::string want = "No VORN folder in '" + narrow(no_vorn) + "'";
    check(!ok && narrow(link.error_text) == want, "%s", want.c_str());
    ok = check_data_folder(link, no_origin.c_str(), &candidate);
    want = "No origin.txt in '" + narrow(no_origin) + "'";
    check(!ok && narrow(link.error_text) == want, "%s", want.c_str());
    text_copy(link.error_text, kErrorTextUnits, u"unchanged");
    ok = check_data_folder(link, no_mark.c_str(), &candidate);
    check(!ok && narrow(link.error_text) == "unchanged",
          "an origin.txt without a byte-order mark is skipped silently");
}

// A data folder of terminal B, dated by its config\terminal.ini.
static std::u16string make_dated_folder(const std::u16string& base, const std::u16string& install,
                                        int year) {
    std::u16string folder = base + u"\\Dated";
    make_folder(folder + u"\\VORN");
    make_folder(folder + u"\\config");
    write_origin(folder + u"\\origin.txt", install);
    std::u16string ini = folder + u"\\config\\terminal.ini";
    write_file(ini, "[Common]\n");
    set_file_year(ini, year);
    return folder;
}

static void check_discovery(const Options& options) {
    std::u16string base = terminals_folder();
    std::u16string second_install = options.second.substr(0, options.second.rfind(u'\\'));
    check_folder_errors(base, second_install);

    std::u16string dated = make_dated_folder(base, second_install, 2001);
    CInterClient scratch;
    TerminalCandidate candidate;
    bool ok = check_data_folder(scratch, dated.c_str(), &candidate);
    check(ok && same_file(candidate.exe_path, options.second.c_str()) && candidate.portable == 0,
          "a dated folder names terminal B");

    // The running terminal rewrote its settings at start: it is the newest.
    CInterClient link;
    bool found = discover_terminal(link);
    check(found && digest_hex(link.path_digest) == digest_of(options.terminal),
          "discovery picks the terminal used last (A)");
    link.close();

    set_file_year(dated + u"\\config\\terminal.ini", 2100);
    std::swap(client.pipe, link.pipe);  // keep the link to A aside
    found = discover_terminal(client);
    check(found && digest_hex(client.path_digest) == digest_of(options.second),
          "after B's folder becomes the newest, discovery starts and opens B");
    uint32_t build = 0;
    check(found && handshake(&build) >= 0 && build > 0, "B answers the handshake");
    check_terminal_gone("B");
    std::swap(client.pipe, link.pipe);
}

// ---- A busy pipe ----

struct BusyServer {
    std::u16string name;
    HANDLE pipe;
};

// Serves one instance: the first client holds it for a while, then the
// instance is freed for the next one.
static DWORD WINAPI serve_one_at_a_time(void* context) {
    BusyServer& server = *(BusyServer*)context;
    ConnectNamedPipe(server.pipe, nullptr);
    Sleep(400);
    DisconnectNamedPipe(server.pipe);
    ConnectNamedPipe(server.pipe, nullptr);
    return 0;
}

static void check_busy_pipe() {
    BusyServer server;
    server.name =
        u"\\\\.\\pipe\\ZRV.Terminal.BusyTest" + widen(std::to_string(GetCurrentProcessId()));
    const wchar_t* name = reinterpret_cast<const wchar_t*>(server.name.c_str());
    server.pipe = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, serve_one_at_a_time, &server, 0, nullptr);
    HANDLE first = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && first == INVALID_HANDLE_VALUE; attempt++) {
        first =
            CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (first == INVALID_HANDLE_VALUE) {
            Sleep(10);
        }
    }
    CInterClient link;
    DWORD started = GetTickCount();
    bool opened = open_pipe(link, server.name.c_str());
    DWORD waited = GetTickCount() - started;
    check(first != INVALID_HANDLE_VALUE && opened && waited >= 200 && link.error_text[0] == 0,
          "a busy pipe is waited for (%lu ms) and then opened, with no error text",
          (unsigned long)waited);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(first);
    link.close();
    CloseHandle(server.pipe);
}

// ---- Parent process ----

static int run_child(const char* parent_text) {
    uint32_t parent = (uint32_t)std::strtoul(parent_text, nullptr, 10);
    char16_t parent_image[kCanonicalPathUnits] = {};
    char16_t own_image[kCanonicalPathUnits] = {};
    bool ok = platform_parent_process_id() == parent &&
              platform_process_image(parent, parent_image, kCanonicalPathUnits) &&
              platform_process_image(GetCurrentProcessId(), own_image, kCanonicalPathUnits) &&
              same_file(parent_image, own_image);
    return ok ? 0 : 1;
}

static void check_parent_process() {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, &self[0], 32768));
    std::wstring command = L"\"" + self + L"\" --child " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    DWORD code = 1;
    if (CreateProcessW(self.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, 30000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    check(code == 0, "a child finds this process as its parent, and its image");
}

// ---- An installation folder outside ASCII ----

// A copy of the portable terminal in a folder whose name lower-cases outside
// ASCII: the pipe name must still match the digest made elsewhere, and the
// terminal must keep its files there.
static void check_accented_install(const Options& options) {
    std::u16string folder = u"C:\\Quill T\u00C9rminal";
    std::u16string exe = folder + u"\\terminal64.exe";
    make_folder(folder);
    bool copied = CopyFileW(reinterpret_cast<const wchar_t*>(options.portable.c_str()),
                            reinterpret_cast<const wchar_t*>(exe.c_str()), FALSE) != 0;
    check(copied && digest_of(exe) == options.accented_digest,
          "digest of the accented path is %s (got %s)", options.accented_digest.c_str(),
          digest_of(exe).c_str());
    check_start(exe, true);
    check_portable_settings(exe);
    check_terminal_gone("in the accented folder");
}

// ---- Main ----

static bool parse(int argc, wchar_t** argv, Options* options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring key = argv[i];
        std::u16string value = reinterpret_cast<const char16_t*>(argv[i + 1]);
        if (key == L"--terminal") {
            options->terminal = value;
        } else if (key == L"--second") {
            options->second = value;
        } else if (key == L"--portable") {
            options->portable = value;
        } else if (key == L"--missing") {
            options->missing = value;
        } else if (key == L"--accented-digest") {
            options->accented_digest = narrow(value);
        } else if (key == L"--digest") {
            size_t equals = value.rfind(u'=');
            if (equals == std::u16string::npos) {
                return false;
            }
            options->digests.emplace_back(value.substr(0, equals),
                                          narrow(value.substr(equals + 1)));
        } else {
            return false;
        }
    }
    return !options->terminal.empty() && !options->second.empty() && !options->portable.empty() &&
           !options->missing.empty() && !options->accented_digest.empty();
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--child") {
        return run_child(narrow(reinterpret_cast<const char16_t*>(argv[2])).c_str());
    }
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: windows_test --terminal A --second B --portable P "
                     "--missing M [--digest PATH=HEX ...]\n");
        return 2;
    }
    check_pipe_names(options);
    check_discovery_empty();
    check_launch_errors(options);
    check_busy_pipe();
    check_parent_process();
    check_start(options.terminal, false);
    check_large_replies();
    check_second_client(options);
    check_client_burst(options);
    check_many_clients(options);
    check_discovery(options);
    check_terminal_gone("A");
    check_start(options.portable, true);
    check_portable_settings(options.portable);
    check_terminal_gone("P (portable)");
    check_accented_install(options);
    return report();
}
