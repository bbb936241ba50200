// initialize, login, shutdown and version: the module functions that open,
// use and drop the process's one link to a terminal.
#include <Python.h>

#include <cstdlib>
#include <cstring>

#include "link/call.h"
#include "link/client.h"
#include "module/args.h"
#include "module/errors.h"
#include "module/methods.h"
#include "wire/commands.h"
#include "wire/text.h"

// What the module tells the terminal about itself in the handshake.
constexpr uint32_t kClientKind = 3;
static const char16_t kClientName[] = u"Python";

struct LoginArguments {
    uint64_t login;
    uint32_t timeout;
    char16_t server[kServerUnits];
    char16_t password[kPasswordUnits];
};

// The keyword arguments shared by initialize and login, in the order they are
// looked at; a missing keyword keeps the value already there.
static bool parse_login_keywords(PyObject* kwargs, LoginArguments* arguments) {
    if (kwargs == nullptr) {
        return true;
    }
    PyObject* value = PyDict_GetItemString(kwargs, "login");
    if (value != nullptr && !convert_uint64_argument(value, &arguments->login)) {
        record_last_error(kStatusInvalidParams, "Invalid \"login\" argument");
        return false;
    }
    value = PyDict_GetItemString(kwargs, "server");
    if (value != nullptr && !convert_string_argument(value, arguments->server, kServerUnits)) {
        record_last_error(kStatusInvalidParams, "Invalid \"server\" argument");
        return false;
    }
    value = PyDict_GetItemString(kwargs, "password");
    if (value != nullptr && !convert_string_argument(value, arguments->password, kPasswordUnits)) {
        record_last_error(kStatusInvalidParams, "Invalid \"password\" argument");
        return false;
    }
    value = PyDict_GetItemString(kwargs, "timeout");
    if (value != nullptr && !convert_uint32_argument(value, &arguments->timeout)) {
        record_last_error(kStatusInvalidParams, "Invalid \"timeout\" argument");
        return false;
    }
    return true;
}

static int32_t send_handshake() {
    RequestField request[] = {request_bytes(&kClientKind, 4), request_text(kClientName)};
    // The build is stored as soon as it is read, even if the reply then fails.
    ReplyField reply = reply_fixed(&client.terminal_build, sizeof(client.terminal_build));
    return client_call(kCmdHandshake, request, 2, &reply, 1);
}

static int32_t send_login(const LoginArguments& arguments) {
    const uint32_t mode = 0;
    RequestField request[] = {request_bytes(&mode, 4), request_bytes(&arguments.login, 8),
                              request_text(arguments.password), request_text(arguments.server)};
    return client_call(kCmdLogin, request, 4, nullptr, 0);
}

static void record_login_failure(int32_t status) {
    if (status == kStatusUnsupported) {
        record_last_error(status,
                          "Unsupported authorization mode, OTP or certificate password needed");
    } else {
        record_last_error(status);
    }
}

static void record_initialize_failure() {
    char message[2048 + 64];
    const char* start = status_text(kStatusIpcInitFailed);
    size_t prefix = std::strlen(start);
    std::memcpy(message, start, prefix + 1);
    utf16_to_utf8(client.error_text, kErrorTextUnits, message + prefix, sizeof(message) - prefix);
    record_last_error(kStatusIpcInitFailed, message);
}

PyObject* initialize(PyObject*, PyObject* args, PyObject* kwargs) {
    reset_last_error();
    client.close();

    LoginArguments arguments = {};
    char16_t path[kPathUnits] = {};
    bool portable = false;

    Py_ssize_t positional = PyTuple_GET_SIZE(args);
    if (positional > 1) {
        return set_last_error_false(kStatusInvalidParams, "Invalid number of arguments");
    }
    if (positional == 1 && !convert_string_argument(PyTuple_GET_ITEM(args, 0), path, kPathUnits)) {
        return set_last_error_false(kStatusInvalidParams, "Invalid 1st unnamed argument");
    }
    if (!parse_login_keywords(kwargs, &arguments)) {
        Py_RETURN_FALSE;
    }
    if (kwargs != nullptr) {
        PyObject* value = PyDict_GetItemString(kwargs, "path");
        if (value != nullptr && !convert_string_argument(value, path, kPathUnits)) {
            return set_last_error_false(kStatusInvalidParams, "Invalid \"path\" argument");
        }
        value = PyDict_GetItemString(kwargs, "portable");
        if (value != nullptr) {
            // A failing truth test counts as true.
            portable = PyObject_IsTrue(value) != 0;
            PyErr_Clear();
        }
    }

    int32_t status = kStatusSuccess;
    if (!client.connect(path, portable)) {
        status = kStatusIpcInitFailed;
    } else {
        status = send_handshake();
    }
    if (status < 0) {
        // A failed handshake leaves the pipe open; the next initialize or
        // shutdown closes it.
        if (status == kStatusIpcInitFailed) {
            record_initialize_failure();
        } else {
            record_last_error(status);
        }
        Py_RETURN_FALSE;
    }

    if (arguments.login != 0 || arguments.password[0] != 0 || arguments.server[0] != 0) {
        status = send_login(arguments);
        if (status < 0) {
            client.close();
            record_login_failure(status);
            Py_RETURN_FALSE;
        }
    }
    status = client.wait_ready(arguments.timeout);
    if (status < 0) {
        client.close();
        return set_last_error_false(status);
    }
    Py_RETURN_TRUE;
}

PyObject* login(PyObject*, PyObject* args, PyObject* kwargs) {
    reset_last_error();

    LoginArguments arguments = {};

    Py_ssize_t positional = PyTuple_GET_SIZE(args);
    if (positional > 3) {
        return set_last_error_false(kStatusInvalidParams, "Invalid number of arguments");
    }
    if (positional >= 1 && !convert_uint64_argument(PyTuple_GET_ITEM(args, 0), &arguments.login)) {
        return set_last_error_false(kStatusInvalidParams, "Invalid 1st unnamed argument");
    }
    if (positional >= 2 &&
        !convert_string_argument(PyTuple_GET_ITEM(args, 1), arguments.password, kPasswordUnits)) {
        return set_last_error_false(kStatusInvalidParams, "Invalid 2nd unnamed argument");
    }
    if (positional >= 3 &&
        !convert_string_argument(PyTuple_GET_ITEM(args, 2), arguments.server, kServerUnits)) {
        return set_last_error_false(kStatusInvalidParams, "Invalid 3rd unnamed argument");
    }
    if (!parse_login_keywords(kwargs, &arguments)) {
        Py_RETURN_FALSE;
    }
    if (arguments.login == 0) {
        return set_last_error_false(kStatusInvalidParams, "Invalid \"login\" argument");
    }
    int32_t status = send_login(arguments);
    if (status < 0) {
        record_login_failure(status);
        Py_RETURN_FALSE;
    }
    status = client.wait_ready(arguments.timeout);
    if (status < 0) {
        return set_last_error_false(status);
    }
    Py_RETURN_TRUE;
}

PyObject* shutdown(PyObject*, PyObject*) {
    reset_last_error();
    client.close();
    Py_RETURN_TRUE;
}

PyObject* version(PyObject*, PyObject*) {
    reset_last_error();

    const uint32_t request_value = 0;
    uint32_t first = 0;
    uint32_t second = 0;
    void* units = nullptr;
    uint32_t unit_count = 0;
    char text[128] = "";

    RequestField request = request_bytes(&request_value, 4);
    ReplyField reply[] = {reply_fixed(&first, 4), reply_fixed(&second, 4),
                          reply_array(&units, &unit_count, 2)};
    int32_t status = client_call(kCmdVersion, &request, 1, reply, 3);
    if (status > 0 && units != nullptr) {
        // A text longer than the buffer is dropped rather than cut.
        utf16_to_utf8_whole((const char16_t*)units, unit_count, text, sizeof(text));
    }
    std::free(units);
    if (status <= 0) {
        first = 0;
        second = 0;
        text[0] = 0;
    }
    if (status < 0) {
        record_last_error(status);
    }
    return Py_BuildValue("(iis)", (int)first, (int)second, text);
}
