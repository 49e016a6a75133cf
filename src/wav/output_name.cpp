#include "wav/output_name.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>

namespace {

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

// FNV-1a, then mixed: names differ in their last bytes as often as in
// their first.
std::uint64_t name_hash(const std::string& text) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ull;
    }
    h ^= h >> 31;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

// What Windows opens as a device whatever follows: the part before the
// first dot, without trailing spaces, is one of these names in any case.
bool device_name(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// Windows drops trailing dots and spaces from a name, so "a." would meet "a".
void keep_the_end(std::string& name) {
    for (auto it = name.rbegin(); it != name.rend() && (*it == '.' || *it == ' '); ++it) *it = '_';
}

// A name free to give: new to the run, and not a file the run wrote under
// another name the volume takes as the same.
bool take(UsedNames& used, std::string& candidate) {
    if (used.windows_rules) keep_the_end(candidate);
    if (!used.names.insert(name_hash(candidate))) return false;
    return !used.reaches_written || !used.reaches_written(candidate);
}

}  // namespace

std::string output_name(const char* subsound_name, int index, UsedNames& used, bool always_wav,
                        const char* extension) {
    std::string name(subsound_name);
    for (char& c : name) {
        if (replaced(static_cast<unsigned char>(c))) c = '_';
    }
    if (used.windows_rules && device_name(name)) name.insert(0, 1, '_');
    // The name without its ".wav" (or with none), so numbers go before it.
    std::string stem;
    std::string suffix;
    if (name.empty() || name == "." || name == "..") {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "subsound_%04d", index);
        stem = fallback;
        suffix = extension;
    } else if (const auto dot = name.rfind('.'); dot != std::string::npos) {
        stem = name.substr(0, dot);
        suffix = extension;
    } else {
        stem = name;
        if (always_wav) suffix = extension;
    }
    std::string candidate = cut(stem, kMaxNameBytes - suffix.size()) + suffix;
    if (take(used, candidate)) return candidate;
    // Numbers below the one recorded for this name were taken when it last
    // came, so n repeats cost n steps, not n²/2. Long names that shorten
    // alike share one record.
    const std::uint64_t key = name_hash(cut(stem, kMaxNameBytes - suffix.size() - kLongestNumber) + '/' + suffix);
    for (std::uint32_t k = std::max<std::uint32_t>(used.next_number.get(key), 2);; ++k) {
        const std::string number = " (" + std::to_string(k) + ")";
        candidate = cut(stem, kMaxNameBytes - number.size() - suffix.size()) + number + suffix;
        if (take(used, candidate)) {
            used.next_number.set(key, k + 1);
            return candidate;
        }
    }
}
