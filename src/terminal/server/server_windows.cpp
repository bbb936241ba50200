// The pipe server on Windows: one thread waits on overlapped I/O over every
// instance of the named pipe, so any number of clients are served in turn
// while the market keeps stepping.
#include "terminal/server/server.h"

#include <windows.h>

#include <cstring>
#include <list>
#include <vector>

#include "terminal/server/idle.h"
#include "terminal/server/log.h"
#include "terminal/server/session.h"
#include "wire/text.h"

constexpr DWORD kPipeBufferBytes = 64 * 1024;
// One wait takes at most 64 handles: the stop event, the listening instance
// and one per client. A client beyond these finds the pipe busy and waits.
constexpr size_t kMaxClients = MAXIMUM_WAIT_OBJECTS - 2;

struct PipeClient {
    Session session;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED io = {};
    bool pending = false;
    bool writing = false;
    uint8_t buffer[16384];
};

struct Listener {
    std::u16string name;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED io = {};
    bool first = true;
    // A client that came between CreateNamedPipe and ConnectNamedPipe: the
    // connect then fails with ERROR_PIPE_CONNECTED and leaves the OVERLAPPED
    // as it was, still pending, so it must not be asked.
    bool connected = false;
};

static HANDLE g_stop = nullptr;

static BOOL WINAPI on_console_stop(DWORD) {
    SetEvent(g_stop);
    return TRUE;
}

// The first instance claims the name, so no other process can have made the
// pipe before us and wait there for our clients. The default security lets
// only this user (and administrators) open it for writing; remote clients
// are refused.
static bool listen_next(Listener& listener, std::string* error) {
    DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    if (listener.first) {
        open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    }
    listener.pipe = CreateNamedPipeW(
        reinterpret_cast<const wchar_t*>(listener.name.c_str()), open_mode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
    if (listener.pipe == INVALID_HANDLE_VALUE) {
        *error = "CreateNamedPipe failed [" + std::to_string(GetLastError()) + "]";
        return false;
    }
    listener.first = false;
    ResetEvent(listener.io.hEvent);
    BOOL connected_now = ConnectNamedPipe(listener.pipe, &listener.io);
    DWORD code = GetLastError();
    listener.connected = connected_now || code == ERROR_PIPE_CONNECTED;
    if (listener.connected) {
        SetEvent(listener.io.hEvent);
        return true;
    }
    if (code == ERROR_IO_PENDING) {
        return true;
    }
    *error = "ConnectNamedPipe failed [" + std::to_string(code) + "]";
    CloseHandle(listener.pipe);
    listener.pipe = INVALID_HANDLE_VALUE;
    return false;
}

// Starts the client's next transfer: the pending reply if there is one, else
// a read of more requests. False when the client is to be dropped.
static bool start_transfer(PipeClient& client) {
    Session& session = client.session;
    // One reply at a time in flight keeps a client that never reads from
    // filling memory with replies.
    bool served = false;
    if (session.out.empty() && !serve_next_request(session, &served)) {
        return false;
    }
    client.writing = !session.out.empty();
    BOOL done;
    if (client.writing) {
        done = WriteFile(client.pipe, session.out.data() + session.out_sent,
                         (DWORD)(session.out.size() - session.out_sent), nullptr, &client.io);
    } else {
        done = ReadFile(client.pipe, client.buffer, sizeof(client.buffer), nullptr, &client.io);
    }
    if (!done && GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    // Finished or not, the event is set when it is done: one path for both.
    client.pending = true;
    return true;
}

// Takes in a finished transfer; false when the client is gone.
static bool finish_transfer(PipeClient& client) {
    DWORD moved = 0;
    if (!GetOverlappedResult(client.pipe, &client.io, &moved, FALSE)) {
        return GetLastError() == ERROR_IO_INCOMPLETE;
    }
    client.pending = false;
    Session& session = client.session;
    if (client.writing) {
        session.out_sent += moved;
        if (session.out_sent >= session.out.size()) {
            reply_sent(session);
        }
    } else {
        session.in.insert(session.in.end(), client.buffer, client.buffer + moved);
    }
    return start_transfer(client);
}

static void drop_client(PipeClient& client) {
    if (client.pending && CancelIoEx(client.pipe, &client.io)) {
        DWORD moved = 0;
        GetOverlappedResult(client.pipe, &client.io, &moved, TRUE);
    }
    // Closed, not disconnected: the client's next transfer then reports a
    // broken pipe.
    CloseHandle(client.pipe);
    CloseHandle(client.io.hEvent);
    session_closed(client.session);
}

// The listening instance has a client: it becomes that client's own pipe.
static bool accept_client(Listener& listener, std::list<PipeClient>* clients, int id) {
    DWORD ignored = 0;
    bool connected =
        listener.connected || GetOverlappedResult(listener.pipe, &listener.io, &ignored, FALSE);
    listener.connected = false;
    if (!connected) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) {
            return false;
        }
        CloseHandle(listener.pipe);  // the client left before it was served
        listener.pipe = INVALID_HANDLE_VALUE;
        return true;
    }
    clients->emplace_back();
    PipeClient& client = clients->back();
    client.session.fd = id;
    client.pipe = listener.pipe;
    client.io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    listener.pipe = INVALID_HANDLE_VALUE;
    log_line("client %d connected", id);
    if (client.io.hEvent == nullptr || !start_transfer(client)) {
        log_line("client %d disconnected", id);
        drop_client(client);
        clients->pop_back();
    }
    return true;
}

bool server_run(const std::string& pipe_name, std::string* error) {
    std::vector<char16_t> name(pipe_name.size() + 1);
    utf8_to_utf16(pipe_name.c_str(), name.data(), name.size());
    Listener listener;
    listener.name = name.data();
    listener.io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (listener.io.hEvent == nullptr || g_stop == nullptr) {
        *error = "CreateEvent failed [" + std::to_string(GetLastError()) + "]";
        return false;
    }
    if (!listen_next(listener, error)) {
        return false;
    }
    SetConsoleCtrlHandler(on_console_stop, TRUE);
    log_line("listening at %s", pipe_name.c_str());

    std::list<PipeClient> clients;
    std::vector<HANDLE> events;
    int next_id = 1;
    for (;;) {
        events.clear();
        events.push_back(g_stop);
        if (listener.pipe != INVALID_HANDLE_VALUE) {
            events.push_back(listener.io.hEvent);
        }
        for (PipeClient& client : clients) {
            events.push_back(client.io.hEvent);
        }
        DWORD woken =
            WaitForMultipleObjects((DWORD)events.size(), events.data(), FALSE, kServerStepMs);
        if (woken == WAIT_FAILED) {
            *error = "WaitForMultipleObjects failed [" + std::to_string(GetLastError()) + "]";
            break;
        }
        if (WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0) {
            break;
        }
        // Every signalled transfer is taken, not only the first one reported,
        // so that no client waits behind a busy neighbour.
        for (auto it = clients.begin(); it != clients.end();) {
            if (WaitForSingleObject(it->io.hEvent, 0) == WAIT_OBJECT_0 && !finish_transfer(*it)) {
                log_line("client %d disconnected", it->session.fd);
                drop_client(*it);
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
        if (listener.pipe != INVALID_HANDLE_VALUE &&
            WaitForSingleObject(listener.io.hEvent, 0) == WAIT_OBJECT_0) {
            if (accept_client(listener, &clients, next_id)) {
                next_id++;
            }
        }
        if (listener.pipe == INVALID_HANDLE_VALUE && clients.size() < kMaxClients &&
            !listen_next(listener, error)) {
            break;
        }
        server_idle_step(woken != WAIT_TIMEOUT);
    }
    for (PipeClient& client : clients) {
        drop_client(client);
    }
    if (listener.pipe != INVALID_HANDLE_VALUE) {
        CancelIoEx(listener.pipe, &listener.io);
        CloseHandle(listener.pipe);
    }
    CloseHandle(listener.io.hEvent);
    log_line("stopped");
    return error->empty();
}
