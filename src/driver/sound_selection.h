// Which sounds of a bank -s/--sound picks: indices and ranges counted from
// 0 ("3", "0-9", "3,7,12-15"), or exact sound names.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class SoundSelection {
public:
    // Adds one -s value: a list of indices and ranges when it reads as one,
    // otherwise a name. False, with the reason, for a range that runs
    // backwards.
    bool add(const std::string& value, std::string& error);

    bool all() const { return ranges_.empty() && names_.empty(); }
    bool picks(int index, const char* name) const;

private:
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges_;  // inclusive
    std::vector<std::string> names_;
};
