// The call procedure: one request out, one reply in, one status.
#include "link/call.h"

#include <cstdlib>

#include "link/client.h"
#include "link/stream.h"
#include "wire/commands.h"
#include "wire/status.h"
#include "wire/text.h"

RequestField request_text(const char16_t* text) {
    return RequestField{text, (uint32_t)text_length(text), true};
}

static void* allocate_with_malloc(size_t bytes) {
    return std::malloc(bytes);
}

static void release_with_free(void* storage) {
    std::free(storage);
}

ReplyField reply_array(void** storage, uint32_t* count, uint32_t record_size) {
    return reply_array_with(storage, count, record_size, allocate_with_malloc, release_with_free);
}

static bool is_array(const ReplyField& field) {
    return field.allocate != nullptr;
}

static bool has_storage(const ReplyField* reply, size_t reply_count) {
    for (size_t i = 0; i < reply_count; i++) {
        const ReplyField& field = reply[i];
        bool present = is_array(field) ? field.storage != nullptr && field.count != nullptr
                                       : field.data != nullptr || field.size == 0;
        if (!present) {
            return false;
        }
    }
    return true;
}

static bool write_request(uint32_t command, const RequestField* request, size_t request_count) {
    uint64_t length = 4;
    for (size_t i = 0; i < request_count; i++) {
        const RequestField& field = request[i];
        length += field.counted_string ? 4 + 2 * (uint64_t)field.size : field.size;
    }
    if (length > UINT32_MAX) {
        return false;
    }
    PipeWriter writer(client.pipe);
    writer.begin((uint32_t)length, command);
    for (size_t i = 0; i < request_count; i++) {
        const RequestField& field = request[i];
        if (field.counted_string) {
            if (!writer.write(&field.size, 4) || !writer.write(field.data, 2 * field.size)) {
                return false;
            }
        } else if (!writer.write(field.data, field.size)) {
            return false;
        }
    }
    return writer.flush();
}

static bool read_array(PipeReader& reader, ReplyField& field) {
    uint32_t count = 0;
    if (!reader.read(&count, 4)) {
        return false;
    }
    if (count == 0) {
        *field.count = 0;
        return true;
    }
    // A count the reply cannot hold is refused before anything is allocated.
    uint64_t bytes = (uint64_t)count * field.size;
    if (bytes > (uint64_t)reader.avail + reader.remaining) {
        return false;
    }
    void* storage = field.allocate((size_t)bytes);
    if (storage == nullptr) {
        return false;
    }
    *field.storage = storage;
    *field.count = count;
    return reader.read(storage, (uint32_t)bytes);
}

static void release_arrays(ReplyField* reply, size_t reply_count) {
    for (size_t i = 0; i < reply_count; i++) {
        ReplyField& field = reply[i];
        if (is_array(field) && *field.storage != nullptr) {
            field.release(*field.storage);
            *field.storage = nullptr;
            *field.count = 0;
        }
    }
}

int32_t client_call(uint32_t command, const RequestField* request, size_t request_count,
                    ReplyField* reply, size_t reply_count) {
    platform_reap_started_processes();
    if (!has_storage(reply, reply_count)) {
        return kStatusIpcCallFailed;
    }
    for (size_t i = 0; i < reply_count; i++) {
        if (is_array(reply[i])) {
            *reply[i].storage = nullptr;
            *reply[i].count = 0;
        }
    }
    if (command >= kCmdSymbolsTotal && command <= kCmdSymbolsGetGroup &&
        client.terminal_build < kBuildSymbolsApi) {
        return kStatusIncompatible;
    }
    if (client.pipe == kInvalidHandle) {
        return kStatusNoIpcConnection;
    }
    if (!write_request(command, request, request_count)) {
        return kStatusIpcSendFailed;
    }

    PipeReader reader(client.pipe);
    uint32_t echoed = 0;
    int32_t status = 0;
    bool status_read = false;
    bool complete = reader.read_length() && reader.read(&echoed, 4);
    if (complete) {
        status_read = complete = reader.read(&status, 4);
    }
    for (size_t i = 0; complete && i < reply_count; i++) {
        ReplyField& field = reply[i];
        complete =
            is_array(field) ? read_array(reader, field) : reader.read(field.data, field.size);
    }
    complete = complete && reader.at_end();

    int32_t result;
    if (!complete) {
        result = status_read && status < 0 ? status : kStatusIpcRecvFailed;
    } else if (echoed != command) {
        result = kStatusIpcCallFailed;
    } else {
        result = status;
    }
    if (result < 0) {
        release_arrays(reply, reply_count);
    }
    return result;
}
