// Which sounds of a bank -s/--sound picks: indices and ranges counted from
// 0 ("3", "0-9", "3,7,12-15"), or exact sound names.
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
    // Also notes which values picked something.
    bool picks(int index, const char* name);
    // The values given that have picked no sound so far, as given.
    std::vector<std::string> unused() const;

private:
    struct Range {
        std::int64_t first, last;  // inclusive
        std::size_t value;         // which value it came from
    };
    std::vector<Range> ranges_;
    std::vector<std::pair<std::string, std::size_t>> names_;
    std::vector<std::string> values_;
    std::vector<bool> used_;
};
