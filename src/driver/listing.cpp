#include "driver/listing.h"

#include <cerrno>
#include <algorithm>
#include <cstdarg>

#include <nlohmann/json.hpp>

#include "wav/utf8.h"

namespace {

int first_write_error = 0;

// Every byte of a listing goes out through here, so that a failed write
// (a full disk, the file size limit) is known at the end.
void put(std::FILE* out, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() && first_write_error == 0) {
        first_write_error = errno ? errno : EIO;
    }
}

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void put_formatted(std::FILE* out, const char* format, ...) {
    char text[512];
    std::va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0) put(out, std::string(text, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1)));
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
    put(out_, printable_name(bank.path));
    put_formatted(out_, ": %d sound%s%s\n", sounds, sounds == 1 ? "" : "s", bank.encrypted ? " (encrypted)" : "");
}

void TextListing::sound(const SoundFacts& s) {
    if (s.show_bank_offset && (s.index == 0 || s.bank_offset != part_offset_)) {
        put_formatted(out_, "  bank at offset %llu (0x%llx):\n", static_cast<unsigned long long>(s.bank_offset),
                      static_cast<unsigned long long>(s.bank_offset));
    }
    part_offset_ = s.bank_offset;
    put_formatted(out_, "%6d  ", s.index);
    put(out_, s.name.empty() ? "(no name)" : printable_name(s.name));
    if (s.named_by_clip) {
        put(out_, " (clip in " + printable_name(s.name_file) + ", path ID " + std::to_string(s.name_path_id) + ")");
    }
    put_formatted(out_, "  %s  %d ch  %u Hz  %u frames  %s", s.codec.c_str(), s.channels, s.rate, s.frames,
                  duration(s.frames, s.rate).c_str());
    if (s.loops) put_formatted(out_, "  loop %u-%u", s.loop_start, s.loop_end);
    if (!s.output.empty()) put(out_, "  -> " + printable_name(s.output));
    put(out_, "\n");
}

void JsonListing::begin_bank(const BankFacts& bank) {
    put(out_, started_ ? (any_bank_ ? ",\n" : "\n") : "{\"banks\": [\n");
    started_ = true;
    any_bank_ = true;
    any_sound_ = false;
    nlohmann::ordered_json head;
    put_text(head, "path", bank.path);
    if (bank.encrypted) head["encrypted"] = true;
    if (!bank.error.empty()) head["error"] = bank.error;
    std::string text = dumped(head);
    text.pop_back();  // the object stays open for its sounds
    put(out_, text);
    put(out_, ", \"sounds\": [");
}

void JsonListing::sound(const SoundFacts& s) {
    nlohmann::ordered_json o;
    o["index"] = s.index;
    put_text(o, "name", s.name);
    if (s.named_by_clip) {
        nlohmann::ordered_json source;
        put_text(source, "file", s.name_file);
        source["path_id"] = s.name_path_id;
        o["name_source"] = source;
    }
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
    o["format"] = s.format;
    o["status"] = s.status;
    put(out_, any_sound_ ? ",\n  " : "\n  ");
    any_sound_ = true;
    put(out_, dumped(o));
}

void JsonListing::end_bank() { put(out_, any_sound_ ? "\n]}" : "]}"); }

void JsonListing::finish() { put(out_, started_ ? "\n]}\n" : "{\"banks\": []}\n"); }

int listing_write_error(std::FILE* out) {
    if (std::fflush(out) != 0 && first_write_error == 0) first_write_error = errno ? errno : EIO;
    if (std::ferror(out) && first_write_error == 0) first_write_error = EIO;
    return first_write_error;
}
