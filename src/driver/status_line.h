// The one line a run on a terminal shows instead of a line per sound,
// redrawn in place on standard error: files read of all (banks, and files
// that turn out to hold none), sounds written, how much and how fast, the
// bank being read and the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// True when standard error is a terminal.
bool stderr_is_terminal();

class StatusLine {
public:
    explicit StatusLine(std::uint64_t banks) : banks_(banks), start_(std::chrono::steady_clock::now()) {}

    // What the line counts (drawn at the next draw): a bank begins, with this
    // many sounds; a file (a bank or not) is done.
    void begin_bank(const std::string& path, std::uint64_t sounds);
    void file_done();
    // A sound's file is done, with this many bytes.
    void sound_done(std::uint64_t bytes);

    // Redraws the line, at most a few times a second unless `now`.
    void draw(bool now = false);
    // Takes the line off the screen before other text is printed there.
    void clear();

    // The text of the line, for a terminal `width` columns wide.
    std::string text(std::size_t width) const;

private:
    std::uint64_t banks_;
    std::uint64_t banks_done_ = 0;
    std::uint64_t bank_sounds_ = 0;  // of the bank being read
    std::uint64_t bank_sounds_done_ = 0;
    std::uint64_t sounds_ = 0;
    std::uint64_t bytes_ = 0;
    std::string bank_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_{};
    std::size_t shown_ = 0;  // columns on screen now
};
