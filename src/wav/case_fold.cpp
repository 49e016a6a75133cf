#include "wav/case_fold.h"

#include <cstdint>

namespace {

// The small letter of a code point, for the scripts named in the header.
std::uint32_t small_letter(std::uint32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;
    // Latin Extended-A: capitals and small letters in pairs, the pairs
    // starting on even code points, then on odd ones from U+0139 to U+0148
    // and from U+0179 to U+017E.
    if (c >= 0x100 && c <= 0x137) return c | 1;
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c | 1;
    if (c == 0x178) return 0xFF;
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
    // Greek.
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 0x25;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 0x3F;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
    if (c == 0x3C2) return 0x3C3;  // final sigma
    // Cyrillic.
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x460 && c <= 0x481) return c | 1;
    if (c >= 0x48A && c <= 0x4BF) return c | 1;
    if (c == 0x4C0) return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c + 1 : c;
    if (c >= 0x4D0 && c <= 0x52F) return c | 1;
    // Armenian.
    if (c >= 0x531 && c <= 0x556) return c + 0x30;
    // Latin Extended Additional (Vietnamese among them).
    if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) return c | 1;
    // Fullwidth Latin capitals.
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;
    return c;
}

void append_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point of the UTF-8 sequence at `at` and its length; a byte
// that starts none is taken as it is, on its own.
std::uint32_t code_point(const std::string& s, std::size_t at, std::size_t& length) {
    const auto c = static_cast<unsigned char>(s[at]);
    std::size_t more = 0;
    std::uint32_t cp = c;
    if ((c & 0xE0) == 0xC0) {
        more = 1, cp = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
        more = 2, cp = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
        more = 3, cp = c & 0x07u;
    }
    length = 1;
    if (more == 0 || s.size() - at <= more) return c < 0x80 ? c : 0x110000 + c;  // not folded
    for (std::size_t k = 1; k <= more; ++k) {
        const auto b = static_cast<unsigned char>(s[at + k]);
        if ((b & 0xC0) != 0x80) return 0x110000 + c;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    length = more + 1;
    return cp;
}

}  // namespace

std::string folded_case(const std::string& name, bool windows_rules) {
    std::string out;
    out.reserve(name.size());
    if (windows_rules) {
        for (const char ch : name) {
            auto c = static_cast<unsigned char>(ch);
            if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<unsigned char>(c + 0x20);
            out += static_cast<char>(c);
        }
        return out;
    }
    for (std::size_t i = 0; i < name.size();) {
        std::size_t length = 1;
        const std::uint32_t cp = code_point(name, i, length);
        if (cp >= 0x110000 || length == 1) {
            out += static_cast<char>(length == 1 && cp < 0x80 ? small_letter(cp) : static_cast<unsigned char>(name[i]));
        } else {
            append_utf8(out, small_letter(cp));
        }
        i += length;
    }
    return out;
}
