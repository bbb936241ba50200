// The error state: one status code and one message for the whole process.
#include "module/errors.h"

#include <cstring>

static int32_t last_code = 0;
static char last_message[2048] = "";

const char* status_text(int32_t code) {
    switch (code) {
        case kStatusInvalidParams:
            return "Terminal: Invalid params";
        case kStatusNoMemory:
            return "Terminal: Out of memory";
        case kStatusNotFound:
            return "Terminal: Not found";
        case kStatusIncompatible:
            return "Terminal: Incompatible versions, please install the latest version of "
                   "Terminal and Python module";
        case kStatusAuthFailed:
            return "Terminal: Authorization failed";
        case kStatusUnsupported:
            return "Terminal: Unsupported function";
        case kStatusIpcCallFailed:
            return "IPC call failed";
        case kStatusIpcSendFailed:
            return "IPC send failed";
        case kStatusIpcRecvFailed:
            return "IPC recv failed";
        case kStatusIpcInitFailed:
            return "IPC initialize failed, ";
        case kStatusNoIpcConnection:
            return "No IPC connection";
        case kStatusIpcTimeout:
            return "IPC timeout";
        default:
            return "Terminal: Call failed";
    }
}

void reset_last_error() {
    last_code = kStatusSuccess;
    std::memcpy(last_message, "Success", sizeof("Success"));
}

// Cuts at a character boundary: a message cut inside a UTF-8 sequence could
// no longer be read back by last_error().
static size_t utf8_prefix_length(const char* text, size_t limit) {
    size_t length = std::strlen(text);
    if (length <= limit) {
        return length;
    }
    length = limit;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    return length;
}

void record_last_error(int32_t code, const char* message) {
    last_code = code;
    if (message == nullptr) {
        message = status_text(code);
    }
    size_t length = utf8_prefix_length(message, sizeof(last_message) - 1);
    std::memmove(last_message, message, length);
    last_message[length] = '\0';
}

PyObject* set_last_error(int32_t code, const char* message) {
    record_last_error(code, message);
    Py_RETURN_NONE;
}

PyObject* set_last_error_false(int32_t code, const char* message) {
    record_last_error(code, message);
    Py_RETURN_FALSE;
}

PyObject* last_error(PyObject*, PyObject*) {
    // "replace" keeps last_error() itself from failing should a caller ever
    // record bytes that are not UTF-8.
    PyObject* message = PyUnicode_DecodeUTF8(last_message, std::strlen(last_message), "replace");
    if (message == nullptr) {
        return nullptr;
    }
    return Py_BuildValue("(iN)", static_cast<int>(last_code), message);
}
