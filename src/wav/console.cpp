#include "wav/console.h"

#include <cerrno>

#include "platform/platform.h"

namespace {

thread_local ConsoleCapture* capture = nullptr;

void put(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    // Where a closed output is a failed write rather than a signal.
    if (std::fflush(stream) != 0 && errno == EPIPE) platform::end_run_for_closed_output();
}

}  // namespace

void capture_console(ConsoleCapture* into) { capture = into; }

void console_write(std::FILE* stream, const std::string& text) {
    if (!capture) return put(stream, text);
    (stream == stderr ? capture->err : capture->out) += text;
}

void print_captured(const ConsoleCapture& captured) {
    if (!captured.out.empty()) put(stdout, captured.out);
    if (!captured.err.empty()) put(stderr, captured.err);
}
