#include "driver/listing.h"

#include <nlohmann/json.hpp>

namespace {

// Valid UTF-8, overlong forms and surrogates excluded.
bool valid_utf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        int more = 0;
        std::uint32_t cp = 0, min = 0;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { more = 1; cp = c & 0x1F; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { more = 2; cp = c & 0x0F; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { more = 3; cp = c & 0x07; min = 0x10000; }
        else return false;
        if (i + more >= s.size()) return false;
        for (int k = 1; k <= more; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

std::string hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Text fields carry valid UTF-8 as it is; other bytes become U+FFFD and the
// raw bytes go into a "<key>_hex" field beside.
void put_text(nlohmann::ordered_json& object, const char* key, const std::string& value) {
    object[key] = value;
    if (!valid_utf8(value)) object[std::string(key) + "_hex"] = hex(value);
}

// C1 controls (U+0080 to U+009F) escaped as well as C0 ones: the same text
// to a parser, nothing a terminal acts on. The dump is valid UTF-8, so 0xC2
// is always a character's first byte there.
std::string dumped(const nlohmann::ordered_json& value) {
    const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (static_cast<unsigned char>(text[i]) == 0xC2 && next >= 0x80 && next < 0xA0) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", next);
            out += escape;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string duration(unsigned int frames, unsigned int rate) {
    if (rate == 0) return "?";
    const double seconds = static_cast<double>(frames) / rate;
    char text[32];
    const auto minutes = static_cast<unsigned long>(seconds / 60);
    std::snprintf(text, sizeof text, "%lu:%06.3f", minutes, seconds - 60.0 * static_cast<double>(minutes));
    return text;
}

}  // namespace

void TextListing::begin_bank(const BankFacts& bank, int sounds) {
    part_offset_ = 0;
    std::fprintf(out_, "%s: %d sound%s%s\n", printable_name(bank.path).c_str(), sounds, sounds == 1 ? "" : "s",
                 bank.encrypted ? " (encrypted)" : "");
}

void TextListing::sound(const SoundFacts& s) {
    if (s.show_bank_offset && (s.index == 0 || s.bank_offset != part_offset_)) {
        std::fprintf(out_, "  bank at offset %llu (0x%llx):\n", static_cast<unsigned long long>(s.bank_offset),
                     static_cast<unsigned long long>(s.bank_offset));
    }
    part_offset_ = s.bank_offset;
    std::fprintf(out_, "%6d  %s  %s  %d ch  %u Hz  %u frames  %s", s.index,
                 s.name.empty() ? "(no name)" : printable_name(s.name).c_str(),
                 s.codec.c_str(), s.channels, s.rate, s.frames, duration(s.frames, s.rate).c_str());
    if (s.loops) std::fprintf(out_, "  loop %u-%u", s.loop_start, s.loop_end);
    std::fputc('\n', out_);
}

void JsonListing::begin_bank(const BankFacts& bank) {
    std::fputs(started_ ? (any_bank_ ? ",\n" : "\n") : "{\"banks\": [\n", out_);
    started_ = true;
    any_bank_ = true;
    any_sound_ = false;
    nlohmann::ordered_json head;
    put_text(head, "path", bank.path);
    if (bank.encrypted) head["encrypted"] = true;
    if (!bank.error.empty()) head["error"] = bank.error;
    std::string text = dumped(head);
    text.pop_back();  // the object stays open for its sounds
    std::fputs(text.c_str(), out_);
    std::fputs(", \"sounds\": [", out_);
}

void JsonListing::sound(const SoundFacts& s) {
    nlohmann::ordered_json o;
    o["index"] = s.index;
    put_text(o, "name", s.name);
    o["codec"] = s.codec;
    o["channels"] = s.channels;
    o["rate"] = s.rate;
    o["frames"] = s.frames;
    if (s.loops) {
        o["loop_start"] = s.loop_start;
        o["loop_end"] = std::uint64_t{s.loop_end} + 1;  // exclusive
    }
    if (s.show_bank_offset) o["bank_offset"] = s.bank_offset;
    put_text(o, "output", s.output);
    o["status"] = s.status;
    std::fputs(any_sound_ ? ",\n  " : "\n  ", out_);
    any_sound_ = true;
    std::fputs(dumped(o).c_str(), out_);
}

void JsonListing::end_bank() { std::fputs(any_sound_ ? "\n]}" : "]}", out_); }

void JsonListing::finish() {
    std::fputs(started_ ? "\n]}\n" : "{\"banks\": []}\n", out_);
    std::fflush(out_);
}
