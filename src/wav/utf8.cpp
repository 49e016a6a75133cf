#include "wav/utf8.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at `i`, or 0.
std::size_t sequence_at(const std::string& s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    std::size_t more = 0;
    std::uint32_t cp = 0, min = 0;
    if ((c & 0xE0) == 0xC0) {
        more = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        more = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        more = 3, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + more >= s.size()) return 0;
    for (std::size_t k = 1; k <= more; ++k) {
        const auto d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return more + 1;
}

}  // namespace

bool valid_utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequence_at(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string utf8_or_replacement(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequence_at(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}
