// PipeWriter and PipeReader over a socket pair: which pipe calls each message
// costs, what reaches the other end, and when a failure closes the link.
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "check.h"
#include "link/stream.h"

// ---- Counting every pipe call (linked with --wrap) ----

static std::vector<uint32_t> reads;
static std::vector<uint32_t> writes;
static int closes = 0;

extern "C" {
bool __real_platform_pipe_read(PlatformHandle, void*, uint32_t, uint32_t*, uint32_t*);
bool __real_platform_pipe_write(PlatformHandle, const void*, uint32_t, uint32_t*, uint32_t*);
void __real_platform_pipe_close(PlatformHandle);

bool __wrap_platform_pipe_read(PlatformHandle pipe, void* data, uint32_t size, uint32_t* moved,
                               uint32_t* error) {
    reads.push_back(size);
    return __real_platform_pipe_read(pipe, data, size, moved, error);
}
bool __wrap_platform_pipe_write(PlatformHandle pipe, const void* data, uint32_t size,
                                uint32_t* moved, uint32_t* error) {
    writes.push_back(size);
    return __real_platform_pipe_write(pipe, data, size, moved, error);
}
void __wrap_platform_pipe_close(PlatformHandle pipe) {
    closes++;
    __real_platform_pipe_close(pipe);
}
}

typedef std::vector<uint32_t> Calls;

// `link` is the module's end, `peer` the terminal's.
struct Pair {
    PlatformHandle link = kInvalidHandle;
    int peer = -1;
    Pair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
            std::perror("socketpair");
            return;
        }
        int size = 1 << 20;
        setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
        setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
        link = fds[0];
        peer = fds[1];
        reads.clear();
        writes.clear();
        closes = 0;
    }
    ~Pair() {
        if (link != kInvalidHandle) {
            close((int)link);
        }
        if (peer >= 0) {
            close(peer);
        }
    }
    void send_reply(uint32_t length, uint32_t body_bytes) {
        std::vector<uint8_t> bytes(4 + body_bytes);
        std::memcpy(bytes.data(), &length, 4);
        for (uint32_t i = 0; i < body_bytes; i++) {
            bytes[4 + i] = (uint8_t)(i * 7 + 1);
        }
        CHECK(write(peer, bytes.data(), bytes.size()) == (ssize_t)bytes.size());
    }
    std::vector<uint8_t> received(size_t count) {
        std::vector<uint8_t> bytes(count);
        size_t at = 0;
        while (at < count) {
            ssize_t got = read(peer, bytes.data() + at, count - at);
            if (got <= 0) {
                break;
            }
            at += (size_t)got;
        }
        bytes.resize(at);
        return bytes;
    }
};

static std::vector<uint8_t> pattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; i++) {
        bytes.push_back((uint8_t)(seed + i * 13));
    }
    return bytes;
}

// ---- Writer ----

static void writer_small_request_is_one_write() {
    Pair pair;
    PipeWriter writer(pair.link);
    writer.begin(12, 1);
    uint32_t zero = 0;
    CHECK(writer.write(&zero, 4));
    CHECK(writer.flush());
    CHECK(writes == Calls({12}));
    std::vector<uint8_t> expected = {12, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    CHECK(pair.received(12) == expected);
}

// Filling the free space exactly stays buffered; one byte more sends the
// full buffer first.
static void writer_exact_fill_stays_buffered() {
    for (uint32_t extra = 0; extra <= 1; extra++) {
        Pair pair;
        PipeWriter writer(pair.link);
        writer.begin(0, 0);
        std::vector<uint8_t> field = pattern(16376 + extra, 3);
        CHECK(writer.write(field.data(), (uint32_t)field.size()));
        CHECK(writes == (extra == 0 ? Calls() : Calls({16384})));
        CHECK(writer.flush());
        CHECK(writes == (extra == 0 ? Calls({16384}) : Calls({16384, 1})));
        std::vector<uint8_t> got = pair.received(8 + field.size());
        CHECK(std::vector<uint8_t>(got.begin() + 8, got.end()) == field);
    }
}

// After a full buffer, a field of more than 16 KiB goes straight from the
// caller's memory; one of exactly 16 KiB is buffered.
static void writer_large_field_after_full_buffer() {
    for (uint32_t size : {16384u, 20000u}) {
        Pair pair;
        PipeWriter writer(pair.link);
        writer.begin(0, 0);
        std::vector<uint8_t> head = pattern(16376, 5);
        std::vector<uint8_t> big = pattern(size, 9);
        CHECK(writer.write(head.data(), (uint32_t)head.size()));
        CHECK(writer.write(big.data(), size));
        CHECK(writer.flush());
        CHECK(writes == (size == 16384 ? Calls({16384, 16384}) : Calls({16384, 20000, 0})));
        std::vector<uint8_t> got = pair.received(16384 + size);
        CHECK(std::vector<uint8_t>(got.begin() + 16384, got.end()) == big);
    }
}

static void writer_broken_pipe_closes_link() {
    Pair pair;
    close(pair.peer);
    pair.peer = -1;
    PipeWriter writer(pair.link);
    writer.begin(8, 1);
    CHECK(!writer.flush());
    CHECK(pair.link == kInvalidHandle);
    CHECK(closes == 1);
}

// ---- Reader ----

static void reader_small_reply_is_two_reads() {
    Pair pair;
    pair.send_reply(8, 8);
    PipeReader reader(pair.link);
    uint32_t first = 0;
    uint32_t second = 0;
    CHECK(reader.read_length());
    CHECK(reader.read(&first, 0));
    CHECK(reads == Calls({4}));
    CHECK(reader.read(&first, 4));
    CHECK(!reader.at_end());
    CHECK(reader.read(&second, 4));
    CHECK(reads == Calls({4, 8}));
    CHECK(reader.at_end());
}

// Below 8 KiB a field goes through the buffer (one read of up to 16 KiB
// serves the fields after it); from 8 KiB on it is read directly.
static void reader_direct_threshold() {
    for (uint32_t size : {8191u, 8192u}) {
        Pair pair;
        pair.send_reply(30000, 30000);
        PipeReader reader(pair.link);
        std::vector<uint8_t> field(size);
        CHECK(reader.read_length());
        CHECK(reader.read(field.data(), size));
        CHECK(reads == (size == 8191 ? Calls({4, 16384}) : Calls({4, 8192})));
        CHECK(field[size - 1] == (uint8_t)((size - 1) * 7 + 1));
    }
}

// The last field skips the buffer even when it is small.
static void reader_last_field_is_direct() {
    Pair pair;
    pair.send_reply(20000, 20000);
    PipeReader reader(pair.link);
    uint32_t count = 0;
    std::vector<uint8_t> rest(19996);
    CHECK(reader.read_length());
    CHECK(reader.read(&count, 4));
    CHECK(reader.read(rest.data(), (uint32_t)rest.size()));
    CHECK(reads == Calls({4, 16384, 3616}));
    CHECK(reader.at_end());
    CHECK(rest[19995] == (uint8_t)(19999 * 7 + 1));
}

static void reader_overrun_fails_without_io() {
    Pair pair;
    pair.send_reply(8, 8);
    PipeReader reader(pair.link);
    uint8_t field[12];
    CHECK(reader.read_length());
    CHECK(!reader.read(field, 12));
    CHECK(reads == Calls({4}));
    CHECK(pair.link != kInvalidHandle);
    CHECK(closes == 0);
}

static void reader_end_of_file_closes_link() {
    Pair pair;
    pair.send_reply(8, 4);
    close(pair.peer);
    pair.peer = -1;
    PipeReader reader(pair.link);
    uint8_t field[8];
    CHECK(reader.read_length());
    CHECK(!reader.read(field, 8));
    CHECK(pair.link == kInvalidHandle);
    CHECK(closes == 1);
}

// An error other than a broken pipe (here a receive time-out) keeps the link.
static void reader_other_error_keeps_link() {
    Pair pair;
    struct timeval wait = {0, 50000};
    setsockopt((int)pair.link, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    PipeReader reader(pair.link);
    CHECK(!reader.read_length());
    CHECK(pair.link != kInvalidHandle);
    CHECK(closes == 0);
}

int main() {
    writer_small_request_is_one_write();
    writer_exact_fill_stays_buffered();
    writer_large_field_after_full_buffer();
    writer_broken_pipe_closes_link();
    reader_small_reply_is_two_reads();
    reader_direct_threshold();
    reader_last_field_is_direct();
    reader_overrun_fails_without_io();
    reader_end_of_file_closes_link();
    reader_other_error_keeps_link();
    if (failures != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    std::printf("stream tests passed\n");
    return 0;
}
