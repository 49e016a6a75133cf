#include "wav/output_name.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kWav = ".wav";
// What the file systems we write to allow for one name.
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kLongestNumber = sizeof " (2147483647)" - 1;

// A byte that may not stand in a file name as it is: a separator, or a
// control byte that would reach the terminal when the path is printed.
bool replaced(unsigned char c) { return c == '/' || c == '\\' || c < 0x20 || c == 0x7F; }

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest start of `stem` of at most `room` bytes that does not end in
// the middle of a UTF-8 sequence. A sequence starts at most 3 bytes back;
// further back, the bytes are not UTF-8 and are cut at `room`.
std::string cut(const std::string& stem, std::size_t room) {
    if (stem.size() <= room) return stem;
    std::size_t end = room;
    while (end > 0 && room - end < 3 && continuation(stem[end])) --end;
    if (continuation(stem[end])) end = room;
    return stem.substr(0, end);
}

}  // namespace

std::string output_name(const char* subsound_name, int index, UsedNames& used, bool always_wav) {
    std::string name(subsound_name);
    for (char& c : name) {
        if (replaced(static_cast<unsigned char>(c))) c = '_';
    }
    // The name without its ".wav" (or with none), so numbers go before it.
    std::string stem;
    std::string suffix;
    if (name.empty() || name == "." || name == "..") {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "subsound_%04d", index);
        stem = fallback;
        suffix = kWav;
    } else if (const auto dot = name.rfind('.'); dot != std::string::npos) {
        stem = name.substr(0, dot);
        suffix = kWav;
    } else {
        stem = name;
        if (always_wav) suffix = kWav;
    }
    std::string candidate = cut(stem, kMaxNameBytes - suffix.size()) + suffix;
    if (used.names.insert(candidate).second) return candidate;
    // Numbers below the one recorded for this name were taken when it last
    // came, so n repeats cost n steps, not n²/2. Long names that shorten
    // alike share one record.
    int& next = used.next_number[cut(stem, kMaxNameBytes - suffix.size() - kLongestNumber) + '/' + suffix];
    for (int k = std::max(next, 2);; ++k) {
        const std::string number = " (" + std::to_string(k) + ")";
        candidate = cut(stem, kMaxNameBytes - number.size() - suffix.size()) + number + suffix;
        if (used.names.insert(candidate).second) {
            next = k + 1;
            return candidate;
        }
    }
}
