#include "wav/output_name.h"

#include <cstdio>

namespace {

constexpr const char* kWav = ".wav";
// What the file systems we write to allow for one name.
constexpr std::size_t kMaxNameBytes = 255;

// A byte that may not stand in a file name as it is: a separator, or a
// control byte that would reach the terminal when the path is printed.
bool replaced(unsigned char c) { return c == '/' || c == '\\' || c < 0x20 || c == 0x7F; }

// The longest start of `stem` of at most `room` bytes that does not end in
// the middle of a UTF-8 sequence.
std::string cut(const std::string& stem, std::size_t room) {
    if (stem.size() <= room) return stem;
    std::size_t end = room;
    while (end > 0 && (static_cast<unsigned char>(stem[end]) & 0xC0) == 0x80) --end;
    return stem.substr(0, end);
}

}  // namespace

std::string output_name(const char* subsound_name, int index, UsedNames& used) {
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
    }
    for (int k = 1;; ++k) {
        const std::string number = k == 1 ? "" : " (" + std::to_string(k) + ")";
        const std::string candidate = cut(stem, kMaxNameBytes - number.size() - suffix.size()) + number + suffix;
        if (used.insert(candidate).second) return candidate;
    }
}
