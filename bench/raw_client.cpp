// The transport's limit: a client that writes request bytes to the terminal's
// socket and reads the reply bytes back, decoding nothing but the length.
//
// Usage: raw_client SOCKET_PATH
// It connects, introduces itself as the module does, prints "ready BUILD",
// then answers one line of standard input at a time:
//   calls N HEX          N calls of the request; prints the total nanoseconds
//   bulk HEX             one call into fresh memory; prints total and
//                        first-byte nanoseconds, reply bytes, and the resident
//                        set before the call and its peak during it (KiB)
//   rate HEX START STOP  calls from START to STOP (CLOCK_REALTIME ns); prints
//                        the calls completed and the nanoseconds they took
//   quit
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int64_t clock_ns(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

static int64_t now_ns() {
    return clock_ns(CLOCK_MONOTONIC);
}

static bool send_all(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= (size_t)sent;
    }
    return true;
}

static bool recv_all(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t got = recv(fd, data, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= (size_t)got;
    }
    return true;
}

// A reply's body lands in `body`, which is grown as needed and reused, so a
// small call costs what the socket costs.
static bool call(int fd, const std::vector<uint8_t>& request, std::vector<uint8_t>* body) {
    uint32_t length = 0;
    if (!send_all(fd, request.data(), request.size()) ||
        !recv_all(fd, (uint8_t*)&length, sizeof(length))) {
        return false;
    }
    if (body->size() < length) {
        body->resize(length);
    }
    return recv_all(fd, body->data(), length);
}

struct BulkResult {
    int64_t total_ns;
    int64_t first_byte_ns;
    uint32_t bytes;
};

// One large reply read into memory taken for it alone, as a client that
// hands the result to its caller must do.
static bool bulk_call(int fd, const std::vector<uint8_t>& request, BulkResult* result) {
    uint32_t length = 0;
    int64_t start = now_ns();
    if (!send_all(fd, request.data(), request.size()) ||
        !recv_all(fd, (uint8_t*)&length, sizeof(length))) {
        return false;
    }
    result->first_byte_ns = now_ns() - start;
    uint8_t* body = (uint8_t*)std::malloc(length > 0 ? length : 1);
    bool ok = body != nullptr && recv_all(fd, body, length);
    result->total_ns = now_ns() - start;
    result->bytes = length;
    std::free(body);
    return ok;
}

static bool parse_hex(const char* text, std::vector<uint8_t>* bytes) {
    size_t size = std::strlen(text);
    if (size % 2 != 0) {
        return false;
    }
    bytes->clear();
    for (size_t i = 0; i < size; i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        unsigned long value = std::strtoul(pair, &end, 16);
        if (*end != 0) {
            return false;
        }
        bytes->push_back((uint8_t)value);
    }
    return bytes->size() >= 8;
}

// A field of /proc/self/status in KiB, or -1.
static long status_kib(const char* field) {
    FILE* file = std::fopen("/proc/self/status", "r");
    if (file == nullptr) {
        return -1;
    }
    char line[256];
    long value = -1;
    size_t field_size = std::strlen(field);
    while (std::fgets(line, sizeof(line), file)) {
        if (std::strncmp(line, field, field_size) == 0 && line[field_size] == ':') {
            value = std::strtol(line + field_size + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return value;
}

// Starts a new peak: from here VmHWM counts from the current resident set.
static void reset_peak() {
    FILE* file = std::fopen("/proc/self/clear_refs", "w");
    if (file != nullptr) {
        std::fputs("5", file);
        std::fclose(file);
    }
}

static int connect_to(const char* path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof(address.sun_path)) {
        return -1;
    }
    std::strcpy(address.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0 && connect(fd, (sockaddr*)&address, sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Command 4 with the u32 3 and the text "Python"; the reply carries the build.
static bool handshake(int fd, uint32_t* build) {
    const char16_t name[] = u"Python";
    std::vector<uint8_t> request(8 + 4 + 4 + 12);
    uint32_t header[4] = {(uint32_t)request.size() - 4, 4, 3, 6};
    std::memcpy(request.data(), header, sizeof(header));
    std::memcpy(request.data() + 16, name, 12);
    std::vector<uint8_t> body;
    if (!call(fd, request, &body) || body.size() < 12) {
        return false;
    }
    int32_t status;
    std::memcpy(&status, body.data() + 4, 4);
    std::memcpy(build, body.data() + 8, 4);
    return status >= 0;
}

static void run_calls(int fd, long count, const std::vector<uint8_t>& request) {
    std::vector<uint8_t> body;
    int64_t start = now_ns();
    for (long i = 0; i < count; i++) {
        if (!call(fd, request, &body)) {
            std::printf("error call failed\n");
            return;
        }
    }
    std::printf("%lld\n", (long long)(now_ns() - start));
}

static void run_bulk(int fd, const std::vector<uint8_t>& request) {
    reset_peak();
    long rss_before = status_kib("VmRSS");
    BulkResult result = {};
    if (!bulk_call(fd, request, &result)) {
        std::printf("error call failed\n");
        return;
    }
    long peak = status_kib("VmHWM");
    std::printf("%lld %lld %u %ld %ld\n", (long long)result.total_ns,
                (long long)result.first_byte_ns, result.bytes, rss_before, peak);
}

static void run_rate(int fd, const std::vector<uint8_t>& request, int64_t start, int64_t stop) {
    std::vector<uint8_t> body;
    timespec at = {(time_t)(start / 1000000000), (long)(start % 1000000000)};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
    int64_t began = now_ns();
    long count = 0;
    while (clock_ns(CLOCK_REALTIME) < stop) {
        if (!call(fd, request, &body)) {
            std::printf("error call failed\n");
            return;
        }
        count++;
    }
    std::printf("%ld %lld\n", count, (long long)(now_ns() - began));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: raw_client SOCKET_PATH\n");
        return 2;
    }
    int fd = connect_to(argv[1]);
    uint32_t build = 0;
    if (fd < 0 || !handshake(fd, &build)) {
        std::printf("error cannot connect to %s\n", argv[1]);
        return 1;
    }
    std::printf("ready %u\n", build);
    std::fflush(stdout);

    char line[1 << 16];
    char hex[1 << 16];
    std::vector<uint8_t> request;
    while (std::fgets(line, sizeof(line), stdin)) {
        long count = 0;
        long long start = 0, stop = 0;
        if (std::strncmp(line, "quit", 4) == 0) {
            break;
        } else if (std::sscanf(line, "calls %ld %65535s", &count, hex) == 2 &&
                   parse_hex(hex, &request)) {
            run_calls(fd, count, request);
        } else if (std::sscanf(line, "bulk %65535s", hex) == 1 && parse_hex(hex, &request)) {
            run_bulk(fd, request);
        } else if (std::sscanf(line, "rate %65535s %lld %lld", hex, &start, &stop) == 3 &&
                   parse_hex(hex, &request)) {
            run_rate(fd, request, start, stop);
        } else {
            std::printf("error bad command\n");
        }
        std::fflush(stdout);
    }
    close(fd);
    return 0;
}
