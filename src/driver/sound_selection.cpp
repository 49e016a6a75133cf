#include "driver/sound_selection.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
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

bool is_pattern(const std::string& value) { return value.find_first_of("*?[") != std::string::npos; }

// Edits between two names, case aside, bounded: names are compared only up
// to 64 bytes, which keeps a long name from costing much.
std::size_t distance(const std::string& a, const std::string& b) {
    const std::size_t n = std::min<std::size_t>(a.size(), 64), m = std::min<std::size_t>(b.size(), 64);
    std::vector<std::size_t> row(m + 1);
    for (std::size_t j = 0; j <= m; ++j) row[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[m];
}

}  // namespace

bool matches_pattern(const char* p, const char* t) {
    // Backtracking on the last '*' only: linear in practice, never exponential.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*t) {
        if (*p == '*') {
            star = p++;
            resume = t;
            continue;
        }
        bool one = false;
        const char* after = p;
        if (*p == '?') {
            one = true;
            after = p + 1;
        } else if (*p == '[') {
            const char* q = p + 1;
            const bool negated = *q == '!' || *q == '^';
            if (negated) ++q;
            bool in = false;
            bool closed = false;
            for (bool first = true; *q; first = false) {
                if (*q == ']' && !first) {
                    closed = true;
                    break;
                }
                if (q[1] == '-' && q[2] && q[2] != ']') {
                    in = in || (static_cast<unsigned char>(*t) >= static_cast<unsigned char>(*q) &&
                                static_cast<unsigned char>(*t) <= static_cast<unsigned char>(q[2]));
                    q += 3;
                } else {
                    in = in || *q == *t;
                    ++q;
                }
            }
            if (closed) {
                one = in != negated;
                after = q + 1;
            } else {
                one = *p == *t;  // an unclosed '[' is itself
                after = p + 1;
            }
        } else if (*p) {
            one = *p == *t;
            after = p + 1;
        }
        if (one) {
            p = after;
            ++t;
        } else if (star) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == '\0';
}

bool SoundSelection::add(const std::string& value, std::string& error) {
    const std::size_t which = values_.size();
    nearest_.emplace_back(std::string(), SIZE_MAX);
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

bool SoundSelection::picks(int index, const char* name, const std::string& file_name) {
    if (all()) return true;
    highest_index_ = std::max<std::int64_t>(highest_index_, index);
    bool picked = false;
    for (const auto& r : ranges_) {
        if (index >= r.first && index <= r.last) {
            used_[r.value] = true;
            picked = true;
        }
    }
    for (const auto& [wanted, which] : names_) {
        const bool hit = is_pattern(wanted) ? matches_pattern(wanted.c_str(), name) ||
                                                  matches_pattern(wanted.c_str(), file_name.c_str())
                                            : wanted == name || wanted == file_name;
        if (hit) {
            used_[which] = true;
            picked = true;
        } else if (!used_[which] && *name && compared_ < kMostCompared) {
            // The hint is looked for among the first names only: a bank of
            // a million sounds costs no more than one of 65,536.
            ++compared_;
            auto& [best, far] = nearest_[which];
            // The name as the bank gives it, and without its extension.
            const std::string whole = name;
            const std::string stem = whole.substr(0, whole.rfind('.'));
            for (const std::string* candidate : {&whole, &stem}) {
                const std::size_t length = candidate->size();
                const std::size_t apart = length > wanted.size() ? length - wanted.size() : wanted.size() - length;
                if (length == 0 || apart >= far) continue;  // at least that many edits
                const std::size_t d = distance(wanted, *candidate);
                if (d < far) best = whole, far = d;
            }
        }
    }
    return picked;
}

std::string SoundSelection::hint(const std::string& value) const {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (values_[i] != value) continue;
        if (looks_like_indices(value)) {
            if (highest_index_ < 0) return "";
            return "the sounds are numbered 0 to " + std::to_string(highest_index_);
        }
        const auto& [best, far] = nearest_[i];
        // Near enough to be a slip: at most a third of the name.
        if (!best.empty() && far <= std::max<std::size_t>(2, value.size() / 3)) return "the closest name is '" + best + "'";
        return "a name, a file name or a pattern such as 'vo_*' picks sounds by name";
    }
    return "";
}

std::vector<std::string> SoundSelection::unused() const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (!used_[i]) out.push_back(values_[i]);
    }
    return out;
}
