#include "soundlib/replace/replacement_input.h"

#include <algorithm>
#include <cstring>

#include "soundlib/io/bank_file.h"

namespace soundlib {

namespace {

bool ends_with_folded(const std::string& text, const char* end) {
    const std::size_t n = std::strlen(end);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[text.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != end[i]) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<ReplacementInput> open_replacement(const std::string& path, std::string& why) {
    std::uint8_t magic[4] = {};
    {
        BankFile probe;
        std::string open_why;
        if (probe.open(path, &open_why) != BankFile::OpenError::none) {
            why = open_why;
            return nullptr;
        }
        probe.read_exact(0, magic, std::min<std::uint64_t>(4, probe.size()));
    }
    // What the file holds decides; a file of none of them is taken as its
    // name says, whose reader says what is wrong.
    if (std::memcmp(magic, "RIFF", 4) == 0) return open_wav_replacement(path, why);
    if (std::memcmp(magic, "fLaC", 4) == 0) return open_flac_replacement(path, why);
    if (std::memcmp(magic, "OggS", 4) == 0) return open_ogg_replacement(path, why);
    const bool mpeg_sync = magic[0] == 0xFF && (magic[1] & 0xE0) == 0xE0;
    if (std::memcmp(magic, "ID3", 3) == 0 || mpeg_sync) return open_mp3_replacement(path, why);
    if (ends_with_folded(path, ".flac")) return open_flac_replacement(path, why);
    if (ends_with_folded(path, ".ogg")) return open_ogg_replacement(path, why);
    if (ends_with_folded(path, ".mp3")) return open_mp3_replacement(path, why);
    return open_wav_replacement(path, why);
}

std::string input_format_text(const InputShape& shape) {
    switch (shape.format) {
        case InputFormat::ogg: return "Ogg Vorbis";
        case InputFormat::mp3: return "MP3";
        case InputFormat::flac: return std::to_string(shape.bits) + "-bit FLAC";
        case InputFormat::wav: break;
    }
    return shape.is_float ? "32-bit float" : std::to_string(shape.bits) + "-bit";
}

}  // namespace soundlib
