#include "platform/output_kind.h"

#include <cstring>

namespace platform {

namespace {

bool ends_with(const std::string& name, const char* extension) {
    const std::size_t n = std::strlen(extension);
    return name.size() >= n && name.compare(name.size() - n, n, extension) == 0;
}

}  // namespace

const char* output_kind(const std::string& name) {
    if (ends_with(name, ".flac")) return "FLAC";
    if (ends_with(name, ".ogg")) return "Ogg";
    if (ends_with(name, ".mp3")) return "MP3";
    return "WAV";
}

std::string output_kind_with_article(const std::string& name) {
    const std::string kind = output_kind(name);
    return (kind == "Ogg" || kind == "MP3" ? "an " : "a ") + kind;
}

bool starts_like_output(const std::string& name, const unsigned char* head, std::size_t n) {
    const std::string kind = output_kind(name);
    if (kind == "FLAC") return n >= 4 && std::memcmp(head, "fLaC", 4) == 0;
    if (kind == "Ogg") return n >= 4 && std::memcmp(head, "OggS", 4) == 0;
    if (kind == "MP3") return n >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
    return n >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

}  // namespace platform
