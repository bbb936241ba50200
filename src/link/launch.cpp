// Opening a terminal's pipe, starting the terminal when it is not running.
#include "link/launch.h"

#include "link/pipe_name.h"
#include "wire/text.h"

constexpr size_t kMaxPathUnits = 260;
constexpr uint32_t kStartWaitMs = 60000;
constexpr uint32_t kStartStepMs = 500;

enum PipeOpenResult { kPipeOpened, kPipeNotOpened, kPipeRefused };

static PipeOpenResult try_open_pipe(CInterClient& link, const char16_t* name) {
    for (;;) {
        uint32_t error = 0;
        char refusal[512];
        link.pipe = platform_pipe_open(name, &error, refusal, sizeof(refusal));
        if (link.pipe != kInvalidHandle) {
            return kPipeOpened;
        }
        // A pipe that is not private to this user is never used, and no
        // second terminal is started beside it.
        if (refusal[0] != 0) {
            text_format(link.error_text, kErrorTextUnits, "CreateFile failed [%u], %s", error,
                        refusal);
            return kPipeRefused;
        }
        if (error != kErrorPipeBusy || !platform_pipe_wait(name)) {
            text_format(link.error_text, kErrorTextUnits, "CreateFile failed [%u]", error);
            return kPipeNotOpened;
        }
    }
}

static bool start_failed(CInterClient& link, const char16_t* path) {
    char narrow_path[kMaxPathUnits * 4 + 1];
    utf16_to_utf8(path, kMaxPathUnits, narrow_path, sizeof(narrow_path));
    text_format(link.error_text, kErrorTextUnits, "Process create failed '%s'", narrow_path);
    return false;
}

bool open_pipe(CInterClient& link, const char16_t* name) {
    return try_open_pipe(link, name) == kPipeOpened;
}

bool open_terminal(CInterClient& link, const char16_t* path, bool portable) {
    if (path == nullptr || path[0] == 0) {
        return false;
    }
    if (text_length(path) > kMaxPathUnits) {
        text_format(link.error_text, kErrorTextUnits, "Path too long");
        return false;
    }
    char16_t name[kPipeNameUnits];
    if (!pipe_name_for_path(path, link.path_digest, name)) {
        text_format(link.error_text, kErrorTextUnits, "Hash calculation failed");
        return false;
    }
    PipeOpenResult opened = try_open_pipe(link, name);
    if (opened != kPipeNotOpened) {
        return opened == kPipeOpened;
    }
    uint32_t process_id = 0;
    uint32_t error = 0;
    if (!platform_start_process(path, portable, &process_id, &error)) {
        return start_failed(link, path);
    }
    for (uint32_t slept = 0; slept < kStartWaitMs; slept += kStartStepMs) {
        // Looked at before the attempt: when ours ended because another copy
        // started at the same time holds the pipe, that pipe is still opened.
        bool ended = platform_started_process_ended(process_id);
        opened = try_open_pipe(link, name);
        if (opened != kPipeNotOpened) {
            return opened == kPipeOpened;
        }
        // A program that ended without opening its pipe (a binary that
        // crashed at once, say) never will: no use waiting the full minute.
        if (ended) {
            return start_failed(link, path);
        }
        platform_sleep_ms(kStartStepMs);
    }
    text_format(link.error_text, kErrorTextUnits, "Pipe server didn't answer in %u sec",
                kStartWaitMs / 1000);
    return false;
}
