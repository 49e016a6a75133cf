#include "driver/display_width.h"

#include <vector>

namespace {

struct Character {
    std::size_t offset;  // of its first byte
    std::size_t bytes;
    std::size_t columns;
};

std::size_t columns_of(char32_t c) {
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                      (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

std::vector<Character> characters(const std::string& text) {
    std::vector<Character> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        bool whole = n != 0 && i + n <= text.size();
        char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; whole && k < n; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            whole = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!whole) n = 1, c = b;  // not UTF-8: one byte, one column
        out.push_back({i, n, columns_of(c)});
        i += n;
    }
    return out;
}

}  // namespace

std::size_t display_width(const std::string& text) {
    std::size_t columns = 0;
    for (const Character& c : characters(text)) columns += c.columns;
    return columns;
}

std::string cut_middle(const std::string& text, std::size_t width) {
    const std::vector<Character> all = characters(text);
    std::size_t total = 0;
    for (const Character& c : all) total += c.columns;
    if (total <= width) return text;
    if (width < 4) return std::string(width, '.');
    // Half the room each side of the dots; the end gets the odd column.
    const std::size_t room = width - 3;
    std::size_t head_room = room / 2, tail_room = room - head_room;
    std::size_t head = 0, used = 0;
    while (head < all.size() && used + all[head].columns <= head_room) used += all[head++].columns;
    tail_room += head_room - used;  // what the head could not use
    std::size_t tail = all.size();
    used = 0;
    while (tail > head && used + all[tail - 1].columns <= tail_room) used += all[--tail].columns;
    const std::size_t head_end = head < all.size() ? all[head].offset : text.size();
    const std::size_t tail_start = tail < all.size() ? all[tail].offset : text.size();
    return text.substr(0, head_end) + "..." + text.substr(tail_start);
}
