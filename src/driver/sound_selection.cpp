#include "driver/sound_selection.h"

#include <climits>
#include <cstring>

namespace {

// The largest index a sound can have.
constexpr std::int64_t kMaxIndex = INT_MAX;

bool looks_like_indices(const std::string& value) {
    return !value.empty() && value.find_first_not_of("0123456789,-") == std::string::npos &&
           value.find_first_of("0123456789") != std::string::npos;
}

enum class Index { ok, not_a_number, too_large };

// A run of digits, as an index.
Index read_index(const std::string& digits, std::int64_t& index) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return Index::not_a_number;
    index = 0;
    for (const char c : digits) {
        index = index * 10 + (c - '0');
        if (index > kMaxIndex) return Index::too_large;
    }
    return Index::ok;
}

}  // namespace

bool SoundSelection::add(const std::string& value, std::string& error) {
    const std::size_t which = values_.size();
    if (!looks_like_indices(value)) {
        names_.emplace_back(value, which);
        values_.push_back(value);
        used_.push_back(false);
        return true;
    }
    std::vector<Range> ranges;
    std::size_t start = 0;
    for (;;) {
        const auto comma = value.find(',', start);
        const std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto dash = item.find('-');
        const std::string a = item.substr(0, dash);
        const std::string b = dash == std::string::npos ? a : item.substr(dash + 1);
        std::int64_t first = 0, last = 0;
        const Index read_a = read_index(a, first);
        const Index read_b = read_a == Index::ok ? read_index(b, last) : read_a;
        if (read_b != Index::ok) {
            error = "--sound '" + value + "' is not a list of indices (such as 3, 0-9 or 3,7,12-15)";
            if (read_b == Index::too_large) error += ": no sound has an index above " + std::to_string(kMaxIndex);
            return false;
        }
        if (first > last) {
            error = "the range " + std::to_string(first) + "-" + std::to_string(last) + " of --sound runs backwards";
            return false;
        }
        ranges.push_back({first, last, which});
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    ranges_.insert(ranges_.end(), ranges.begin(), ranges.end());
    values_.push_back(value);
    used_.push_back(false);
    return true;
}

bool SoundSelection::picks(int index, const char* name) {
    if (all()) return true;
    bool picked = false;
    for (const auto& r : ranges_) {
        if (index >= r.first && index <= r.last) {
            used_[r.value] = true;
            picked = true;
        }
    }
    for (const auto& [wanted, which] : names_) {
        if (std::strcmp(wanted.c_str(), name) == 0) {
            used_[which] = true;
            picked = true;
        }
    }
    return picked;
}

std::vector<std::string> SoundSelection::unused() const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (!used_[i]) out.push_back(values_[i]);
    }
    return out;
}
