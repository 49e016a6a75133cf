#include "wav/output_name.h"

#include "wav/case_fold.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>

namespace {

// What the file systems we write to allow for one name.
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kLongestNumber = sizeof " (2147483647)" - 1;

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence of two or more bytes at `at`
// (overlong forms and surrogates excluded), 0 when none starts there.
std::size_t utf8_sequence(const std::string& s, std::size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    std::size_t more = 0;
    std::uint32_t cp = 0, min = 0;
    if ((c & 0xE0) == 0xC0) { more = 1; cp = c & 0x1Fu; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { more = 2; cp = c & 0x0Fu; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { more = 3; cp = c & 0x07u; min = 0x10000; }
    else return 0;
    if (s.size() - at <= more) return 0;
    for (std::size_t k = 1; k <= more; ++k) {
        if (!continuation(s[at + k])) return 0;
        cp = (cp << 6) | (static_cast<unsigned char>(s[at + k]) & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return more + 1;
}

// Every character that would act on a terminal becomes one '_': C0 controls
// and DEL, C1 controls written as UTF-8 (U+0080 to U+009F), and, where names
// are not in a Windows code page (in which 0x80 to 0x9F are letters and
// signs), a byte 0x80 to 0x9F outside a UTF-8 character, which terminals
// that are not in UTF-8 take as a C1 control. With `separators`, '/' and
// '\\' too.
std::string cleaned(const std::string& text, bool windows_rules, bool separators) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (const std::size_t n = utf8_sequence(text, i); n > 0) {
            const bool c1 = c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            out.append(c1 ? std::string(1, '_') : text.substr(i, n));
            i += n;
            continue;
        }
        const bool control = c < 0x20 || c == 0x7F || (!windows_rules && c >= 0x80 && c < 0xA0);
        out += control || (separators && (c == '/' || c == '\\')) ? '_' : static_cast<char>(c);
        ++i;
    }
    return out;
}

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

std::uint64_t name_hash(const std::string& text) { return platform::text_key(text); }

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
    if (!used.names.insert(name_hash(used.fold_case ? folded_case(candidate, used.windows_rules) : candidate))) {
        return false;
    }
    return !used.reaches_written || !used.reaches_written(candidate);
}

}  // namespace

std::string output_name(const char* subsound_name, int index, UsedNames& used, bool always_wav,
                        const char* extension) {
    std::string name = cleaned(subsound_name, used.windows_rules, true);
    if (used.windows_rules && device_name(name)) name.insert(0, 1, '_');
    // The options form writes no hidden files, and a leading dot starts no
    // extension there: ".tmpXBcUDK" (real banks name sounds after their
    // tool's temporary files) is "_tmpXBcUDK.wav".
    if (always_wav && name != "." && name != "..") {
        for (std::size_t i = 0; i < name.size() && name[i] == '.'; ++i) name[i] = '_';
    }
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

std::string printable_name(const std::string& text, bool windows_rules) { return cleaned(text, windows_rules, false); }

std::string bank_folder_name(const std::string& level, bool windows_rules) {
    std::string name = cleaned(level, windows_rules, true);
    // "" and "." become "_", ".." becomes "__".
    if (name.empty() || name == "." || name == "..") name = std::string(std::max<std::size_t>(name.size(), 1), '_');
    if (windows_rules && device_name(name)) name = "_" + name;
    name = cut(name, kMaxNameBytes);
    if (windows_rules) keep_the_end(name);
    return name;
}

std::string numbered_folder_name(const std::string& folder_name, unsigned number) {
    if (number < 2) return folder_name;
    const std::string suffix = " (" + std::to_string(number) + ")";
    return cut(folder_name, kMaxNameBytes - suffix.size()) + suffix;
}
