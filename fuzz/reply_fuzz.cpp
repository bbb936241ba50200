// libFuzzer target for everything the module does with what a terminal sends:
// the pipe reader, the call framing and every reply decoder, down to the
// record objects and NumPy arrays handed to Python.
//
// The interpreter is embedded with the extension built in as `_core`, and the
// module functions are called for real. The terminal is the other end of a
// socket pair: before each call it is loaded with the fuzzer's bytes, so the
// module reads them through its own POSIX back end. The module's end is
// non-blocking, so a reply shorter than it claims fails the read (as a dead
// terminal would) instead of waiting for bytes that never come.
//
// Input: byte 0 picks the terminal build (bit 0 set: 2363, before the symbol
// commands; else 4000). Then steps of
//   u8 call, u16 little-endian length, that many bytes the peer sends first;
// the call byte indexes CALLS of reply_calls.py, and the value just past the
// last call makes the peer hang up instead.
#include <Python.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/client.h"

PyMODINIT_FUNC PyInit__core(void);

namespace {

PyObject* calls = nullptr;  // list of (function, args, kwargs)
PyObject* check = nullptr;  // check(result)
Py_ssize_t call_count = 0;
int peer = -1;  // the terminal's end of the socket pair

[[noreturn]] void fail(const char* what) {
    if (PyErr_Occurred()) {
        PyErr_Print();
    }
    std::fprintf(stderr, "reply_fuzz: %s\n", what);
    std::abort();
}

void set_nonblocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        fail("fcntl");
    }
}

// A fresh link, as after initialize: the module's end goes to the client.
void open_link() {
    if (peer >= 0) {
        close(peer);
        peer = -1;
    }
    client.close();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        fail("socketpair (are descriptors leaking?)");
    }
    int size = 1 << 20;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    set_nonblocking(fds[0]);
    set_nonblocking(fds[1]);
    client.pipe = fds[0];
    peer = fds[1];
}

void peer_send(const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t sent = send(peer, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return;  // the module's end is gone or full: the rest is lost
        }
        data += sent;
        size -= (size_t)sent;
    }
}

// Throws away the requests the module wrote.
void peer_drain() {
    uint8_t scratch[65536];
    while (recv(peer, scratch, sizeof scratch, 0) > 0) {
    }
}

void peer_hang_up() {
    close(peer);
    peer = -1;
}

void run_call(Py_ssize_t index) {
    PyObject* entry = PyList_GET_ITEM(calls, index);
    PyObject* result = PyObject_Call(PyTuple_GET_ITEM(entry, 0), PyTuple_GET_ITEM(entry, 1),
                                     PyTuple_GET_ITEM(entry, 2));
    if (result == nullptr) {
        fail("a module function raised");
    }
    if (PyErr_Occurred()) {
        fail("a module function left an error pending");
    }
    PyObject* checked = PyObject_CallOneArg(check, result);
    Py_DECREF(result);
    if (checked == nullptr) {
        fail("check failed");
    }
    Py_DECREF(checked);
}

void load_calls(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        fail("cannot open reply_calls.py");
    }
    PyObject* globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    PyDict_SetItemString(globals, "__name__", PyUnicode_FromString("reply_calls"));
    PyObject* done = PyRun_FileEx(file, path, Py_file_input, globals, globals, 1);
    if (done == nullptr) {
        fail("reply_calls.py failed");
    }
    Py_DECREF(done);
    calls = PyDict_GetItemString(globals, "CALLS");
    check = PyDict_GetItemString(globals, "check");
    if (calls == nullptr || !PyList_Check(calls) || check == nullptr) {
        fail("reply_calls.py defines no CALLS or check");
    }
    Py_INCREF(calls);
    Py_INCREF(check);
    call_count = PyList_GET_SIZE(calls);
    Py_DECREF(globals);
}

}  // namespace

// Polls for readiness sleep between attempts; here the sleeps would only slow
// the fuzzer down.
extern "C" void __wrap__Z17platform_sleep_msj(uint32_t) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (PyImport_AppendInittab("_core", PyInit__core) != 0) {
        fail("PyImport_AppendInittab");
    }
    Py_InitializeEx(0);
    load_calls(REPLY_CALLS_FILE);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    open_link();
    client.terminal_build = (data[0] & 1) != 0 ? 2363 : 4000;
    size_t at = 1;
    while (at + 3 <= size) {
        uint8_t call = data[at];
        size_t length = (size_t)data[at + 1] | ((size_t)data[at + 2] << 8);
        at += 3;
        if (length > size - at) {
            length = size - at;
        }
        Py_ssize_t index = call % (call_count + 1);
        if (client.pipe == kInvalidHandle) {
            open_link();
        }
        if (index == call_count) {
            peer_hang_up();
        } else {
            if (peer >= 0) {
                peer_send(data + at, length);
            }
            run_call(index);
            if (peer >= 0) {
                peer_drain();
            }
        }
        at += length;
    }
    return 0;
}
