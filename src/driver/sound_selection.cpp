#include "driver/sound_selection.h"

#include <cctype>
#include <cstring>

namespace {

bool all_digits(const std::string& s) {
    if (s.empty() || s.size() > 10) return false;
    for (const char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// "12" or "12-15"; false for anything else.
bool read_range(const std::string& item, std::int64_t& first, std::int64_t& last) {
    const auto dash = item.find('-');
    const std::string a = item.substr(0, dash);
    const std::string b = dash == std::string::npos ? a : item.substr(dash + 1);
    if (!all_digits(a) || !all_digits(b)) return false;
    first = std::stoll(a);
    last = std::stoll(b);
    return true;
}

}  // namespace

bool SoundSelection::add(const std::string& value, std::string& error) {
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    std::size_t start = 0;
    for (;;) {
        const auto comma = value.find(',', start);
        const std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::int64_t first = 0, last = 0;
        if (!read_range(item, first, last)) {
            names_.push_back(value);  // not a list of indices: a sound's name
            return true;
        }
        ranges.emplace_back(first, last);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (const auto& [first, last] : ranges) {
        if (first > last) {
            error = "the range " + std::to_string(first) + "-" + std::to_string(last) + " of --sound runs backwards";
            return false;
        }
    }
    ranges_.insert(ranges_.end(), ranges.begin(), ranges.end());
    return true;
}

bool SoundSelection::picks(int index, const char* name) const {
    if (all()) return true;
    for (const auto& [first, last] : ranges_) {
        if (index >= first && index <= last) return true;
    }
    for (const auto& wanted : names_) {
        if (std::strcmp(wanted.c_str(), name) == 0) return true;
    }
    return false;
}
