#include "driver/status_line.h"

#include <cstdio>

#include "driver/display_width.h"
#include "driver/summary.h"
#include "platform/platform.h"
#include "wav/output_name.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

std::size_t terminal_width() {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    }
#else
    winsize size{};
    if (ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 80;
}

std::string mib(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string clock_text(double seconds) {
    char text[32];
    const auto s = static_cast<unsigned long long>(seconds + 0.5);
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", s / 60, s % 60);
    }
    return text;
}

}  // namespace

bool stderr_is_terminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(2) != 0;
#endif
}

void StatusLine::begin_bank(const std::string& path, std::uint64_t sounds) {
    bank_ = path;
    bank_sounds_ = sounds;
    bank_sounds_done_ = 0;
}

void StatusLine::file_done() {
    ++banks_done_;
    bank_sounds_ = bank_sounds_done_ = 0;
}

void StatusLine::sound_done(std::uint64_t bytes) {
    ++sounds_;
    ++bank_sounds_done_;
    bytes_ += bytes;
}

std::string StatusLine::text(std::size_t width) const {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string line = "bankrip: " + with_thousands(banks_done_) + "/" + with_thousands(banks_) + " files, " +
                       with_thousands(sounds_) + (sounds_ == 1 ? " sound, " : " sounds, ") + mib(bytes_);
    if (seconds > 0.5) line += ", " + mib(static_cast<std::uint64_t>(static_cast<double>(bytes_) / seconds)) + "/s";
    // How far the run is: whole banks, and the part of the one being read.
    const double part = bank_sounds_ ? static_cast<double>(bank_sounds_done_) / static_cast<double>(bank_sounds_) : 0;
    const double done = banks_ ? (static_cast<double>(banks_done_) + part) / static_cast<double>(banks_) : 0;
    std::string left;
    if (done > 0.01 && seconds > 2) left = ", about " + clock_text(seconds * (1 - done) / done) + " left";
    // The bank's name gets what room is left, cut in the middle: a long
    // path's start and its file name stay in view.
    const std::size_t fixed = line.size() + left.size();  // ASCII: a column a byte
    const std::size_t room = width > fixed + 3 ? width - 1 - fixed - 2 : 0;
    const std::string bank = room ? cut_middle(printable_name(bank_), room) : std::string();
    if (!bank.empty()) line += ", " + bank;
    line += left;
    if (display_width(line) >= width) line = cut_middle(line, width ? width - 1 : 0);
    return line;
}

void StatusLine::draw(bool now) {
    const auto at = std::chrono::steady_clock::now();
    if (!now && at - drawn_ < std::chrono::milliseconds(200)) return;
    drawn_ = at;
    const std::string line = text(terminal_width());
    // Spaces over what the longer line before left, then back.
    const std::size_t columns = display_width(line);
    const std::size_t pad = shown_ > columns ? shown_ - columns : 0;
    std::string out(1, '\r');
    out += line;
    out.append(pad, ' ');
    if (pad) {
        out += '\r';
        out += line;
    }
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
    shown_ = display_width(line);
    platform::note_status_line(true);
}

void StatusLine::clear() {
    if (shown_ == 0) return;
    std::string blank(shown_ + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    std::fputs(blank.c_str(), stderr);
    std::fflush(stderr);
    shown_ = 0;
    platform::note_status_line(false);
}
