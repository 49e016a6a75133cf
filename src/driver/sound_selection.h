// Which sounds of a bank -s/--sound picks: indices and ranges counted from
// 0 ("3", "0-9", "3,7,12-15"), a sound's exact name or the name of its file
// ("rabbit_scream_2.wav"), or a shell-style pattern of either ("vo_*",
// "step?.wav", "[ab]*").
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class SoundSelection {
public:
    // Adds one -s value. A value made only of digits, commas and dashes is
    // a list of indices and ranges, and must read as one; anything else is
    // a name. False, with the reason, for a list that does not read (an
    // empty item, a range open at one end, a range that runs backwards, an
    // index no bank can hold).
    bool add(const std::string& value, std::string& error);

    bool all() const { return ranges_.empty() && names_.empty(); }
    // Also notes which values picked something, and for those that did
    // not, the names that came closest.
    bool picks(int index, const char* name, const std::string& file_name);
    // The values given that have picked no sound so far, as given.
    std::vector<std::string> unused() const;
    // What a value that picked nothing could have meant: the closest name
    // seen, or the indices there were. Empty when nothing comes to mind.
    std::string hint(const std::string& value) const;

private:
    struct Range {
        std::int64_t first, last;  // inclusive
        std::size_t value;         // which value it came from
    };
    std::vector<Range> ranges_;
    std::vector<std::pair<std::string, std::size_t>> names_;
    std::vector<std::string> values_;
    std::vector<bool> used_;
    // Per value: the nearest sound name seen and how far it was.
    std::vector<std::pair<std::string, std::size_t>> nearest_;
    std::int64_t highest_index_ = -1;
    static constexpr std::uint64_t kMostCompared = 1 << 16;
    std::uint64_t compared_ = 0;
};

// True when `text` matches the shell-style `pattern`: * any run, ? any one
// character (byte), [abc] / [a-z] / [!a] one of a set.
bool matches_pattern(const char* pattern, const char* text);
