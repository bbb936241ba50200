// The pipe server on Windows: every instance of the named pipe reports its
// overlapped transfers to one I/O completion port, and one thread takes them
// in turn, so any number of clients are served while the market keeps
// stepping.
#include "terminal/server/server.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <list>
#include <vector>

#include "terminal/server/idle.h"
#include "terminal/server/log.h"
#include "terminal/server/session.h"
#include "wire/text.h"

constexpr DWORD kPipeBufferBytes = 64 * 1024;
// The most clients served at once, as on POSIX; a client beyond this is
// connected and closed at once.
constexpr size_t kMaxClients = 4096;
// Instances listening at once: a crowd that connects together finds one
// free more often than it finds the pipe busy.
constexpr size_t kListeningInstances = 4;
// Completions taken from the port in one step.
constexpr ULONG kCompletionsPerStep = 64;

enum class PipeState { kListening, kReading, kWriting };

// One instance of the pipe: listening until a client connects, then that
// client's own. Its completion key is its address, so it stays in place from
// its creation to its close (std::list splices keep it there).
struct PipeClient {
    Session session;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED io = {};
    PipeState state = PipeState::kListening;
    // A client that came between CreateNamedPipe and ConnectNamedPipe: the
    // connect then fails with ERROR_PIPE_CONNECTED, queues no completion and
    // leaves the OVERLAPPED as it was, so it must not be asked.
    bool connected_early = false;
    bool gone = false;
    uint8_t buffer[16384];
};

static HANDLE g_stop = nullptr;
static HANDLE g_port = nullptr;

static BOOL WINAPI on_console_stop(DWORD) {
    SetEvent(g_stop);
    PostQueuedCompletionStatus(g_port, 0, 0, nullptr);  // wakes the wait at once
    return TRUE;
}

// One log line a second at most, however many clients a crowd brings.
static void log_turned_away(size_t connected) {
    static auto last = std::chrono::steady_clock::time_point();
    static unsigned long count = 0;
    count++;
    auto now = std::chrono::steady_clock::now();
    if (now - last >= std::chrono::seconds(1)) {
        log_line("%lu client(s) turned away: %lu clients are connected, the most served at once",
                 count, (unsigned long)connected);
        last = now;
        count = 0;
    }
}

// The first instance claims the name, so no other process can have made the
// pipe before us and wait there for our clients. The default security lets
// only this user (and administrators) open it for writing; remote clients
// are refused.
static bool listen_next(const std::u16string& name, bool first, PipeClient& instance,
                        std::string* error) {
    DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    if (first) {
        open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    }
    instance.pipe = CreateNamedPipeW(
        reinterpret_cast<const wchar_t*>(name.c_str()), open_mode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
    if (instance.pipe == INVALID_HANDLE_VALUE) {
        *error = "CreateNamedPipe failed [" + std::to_string(GetLastError()) + "]";
        return false;
    }
    if (CreateIoCompletionPort(instance.pipe, g_port, (ULONG_PTR)&instance, 0) == nullptr) {
        *error = "CreateIoCompletionPort failed [" + std::to_string(GetLastError()) + "]";
        return false;
    }
    // Done at once or later, a connect that does not fail queues its
    // completion.
    if (ConnectNamedPipe(instance.pipe, &instance.io) || GetLastError() == ERROR_IO_PENDING) {
        return true;
    }
    DWORD code = GetLastError();
    if (code == ERROR_PIPE_CONNECTED) {
        instance.connected_early = true;
        PostQueuedCompletionStatus(g_port, 0, (ULONG_PTR)&instance, &instance.io);
        return true;
    }
    *error = "ConnectNamedPipe failed [" + std::to_string(code) + "]";
    return false;
}

// Starts the client's next transfer: the pending reply if there is one, else
// a read of more requests. False when the client is to be dropped; then no
// transfer is under way.
static bool start_transfer(PipeClient& client) {
    Session& session = client.session;
    // One reply at a time in flight keeps a client that never reads from
    // filling memory with replies.
    bool served = false;
    if (session.out.empty() && !serve_next_request(session, &served)) {
        return false;
    }
    BOOL done;
    if (!session.out.empty()) {
        client.state = PipeState::kWriting;
        done = WriteFile(client.pipe, session.out.data() + session.out_sent,
                         (DWORD)(session.out.size() - session.out_sent), nullptr, &client.io);
    } else {
        client.state = PipeState::kReading;
        done = ReadFile(client.pipe, client.buffer, sizeof(client.buffer), nullptr, &client.io);
    }
    // Finished or not, the port hears of it: one path for both.
    return done || GetLastError() == ERROR_IO_PENDING;
}

// Takes in a finished transfer and starts the next; false when the client
// is gone.
static bool finish_transfer(PipeClient& client) {
    DWORD moved = 0;
    if (!GetOverlappedResult(client.pipe, &client.io, &moved, FALSE)) {
        return false;
    }
    Session& session = client.session;
    if (client.state == PipeState::kWriting) {
        session.out_sent += moved;
        if (session.out_sent >= session.out.size()) {
            reply_sent(session);
        }
    } else {
        session.in.insert(session.in.end(), client.buffer, client.buffer + moved);
    }
    return start_transfer(client);
}

// A listening instance has a client: it becomes that client's own pipe, or
// is closed when the client left already or there is no room for it.
static void accept_client(PipeClient& instance, size_t connected, int id) {
    DWORD ignored = 0;
    bool connected_now = instance.connected_early ||
                         GetOverlappedResult(instance.pipe, &instance.io, &ignored, FALSE);
    instance.connected_early = false;
    if (!connected_now) {
        instance.gone = true;
        return;
    }
    if (connected >= kMaxClients) {
        log_turned_away(connected);
        instance.gone = true;
        return;
    }
    instance.session.fd = id;
    log_line("client %d connected", id);
    if (!start_transfer(instance)) {
        log_line("client %d disconnected", id);
        instance.gone = true;
    }
}

// Closes an instance. One with a transfer under way is cancelled and waited
// for first: the system writes its result into the OVERLAPPED.
static void close_instance(PipeClient& instance, bool in_flight) {
    if (in_flight && CancelIoEx(instance.pipe, &instance.io)) {
        DWORD moved = 0;
        GetOverlappedResult(instance.pipe, &instance.io, &moved, TRUE);
    }
    // Closed, not disconnected: the client's next transfer then reports a
    // broken pipe.
    if (instance.pipe != INVALID_HANDLE_VALUE) {
        CloseHandle(instance.pipe);
    }
    if (instance.state != PipeState::kListening) {
        session_closed(instance.session);
    }
}

// Closes and forgets the instances marked gone; none has a transfer under way.
static void sweep(std::list<PipeClient>* instances) {
    for (auto it = instances->begin(); it != instances->end();) {
        if (it->gone) {
            close_instance(*it, false);
            it = instances->erase(it);
        } else {
            ++it;
        }
    }
}

static bool open_port(std::string* error) {
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (g_stop == nullptr || g_port == nullptr) {
        *error = "cannot make the completion port [" + std::to_string(GetLastError()) + "]";
        return false;
    }
    return true;
}

// Keeps enough instances listening; false when the pipe cannot be made.
static bool keep_listening(const std::u16string& name, std::list<PipeClient>* listening,
                           bool* first, std::string* error) {
    while (listening->size() < kListeningInstances) {
        listening->emplace_back();
        if (!listen_next(name, *first, listening->back(), error)) {
            close_instance(listening->back(), false);
            listening->pop_back();
            return false;
        }
        *first = false;
    }
    return true;
}

// Takes one completion; a listening instance that got its client moves over
// to the clients.
static void take_completion(const OVERLAPPED_ENTRY& done, std::list<PipeClient>* listening,
                            std::list<PipeClient>* clients, int* next_id) {
    PipeClient* instance = (PipeClient*)done.lpCompletionKey;
    if (instance == nullptr) {
        return;  // a wake-up
    }
    if (instance->state != PipeState::kListening) {
        if (!finish_transfer(*instance)) {
            log_line("client %d disconnected", instance->session.fd);
            instance->gone = true;
        }
        return;
    }
    accept_client(*instance, clients->size(), *next_id);
    if (instance->state == PipeState::kListening) {
        return;  // closed in the sweep
    }
    (*next_id)++;
    for (auto it = listening->begin(); it != listening->end(); ++it) {
        if (&*it == instance) {
            clients->splice(clients->end(), *listening, it);
            return;
        }
    }
}

bool server_run(const std::string& pipe_name, std::string* error) {
    std::vector<char16_t> wide_name(pipe_name.size() + 1);
    utf8_to_utf16(pipe_name.c_str(), wide_name.data(), wide_name.size());
    std::u16string name = wide_name.data();
    if (!open_port(error)) {
        return false;
    }
    std::list<PipeClient> listening;
    std::list<PipeClient> clients;
    bool first = true;
    if (!keep_listening(name, &listening, &first, error)) {
        return false;
    }
    SetConsoleCtrlHandler(on_console_stop, TRUE);
    log_line("listening at %s for up to %lu clients", pipe_name.c_str(),
             (unsigned long)kMaxClients);

    std::vector<OVERLAPPED_ENTRY> done(kCompletionsPerStep);
    int next_id = 1;
    for (;;) {
        ULONG count = 0;
        if (!GetQueuedCompletionStatusEx(g_port, done.data(), kCompletionsPerStep, &count,
                                         kServerStepMs, FALSE)) {
            if (GetLastError() != WAIT_TIMEOUT) {
                *error =
                    "GetQueuedCompletionStatusEx failed [" + std::to_string(GetLastError()) + "]";
                break;
            }
            count = 0;
        }
        if (WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0) {
            break;
        }
        for (ULONG i = 0; i < count; i++) {
            take_completion(done[i], &listening, &clients, &next_id);
        }
        sweep(&listening);
        sweep(&clients);
        if (!keep_listening(name, &listening, &first, error)) {
            break;
        }
        server_idle_step(count > 0);
    }
    for (PipeClient& client : clients) {
        close_instance(client, true);
    }
    for (PipeClient& instance : listening) {
        close_instance(instance, !instance.connected_early);
    }
    CloseHandle(g_port);
    log_line("stopped");
    return error->empty();
}
