#include "platform/output_kind.h"

#include <cstring>

namespace platform {

namespace {

bool ends_with(const std::string& name, const char* extension) {
    const std::size_t n = std::strlen(extension);
    return name.size() >= n && name.compare(name.size() - n, n, extension) == 0;
}

// The length of the MPEG audio frame whose header is at `h`, or 0 when the
// four bytes are no valid header (free-format bit rates included: the tool
// never writes them).
std::size_t mpeg_frame_length(const unsigned char* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    const int version = (h[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = 4 - ((h[1] >> 1) & 3);  // 1, 2 or 3 (4: reserved)
    const int bitrate_index = h[2] >> 4;
    const int rate_index = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3 ||
        (h[3] & 3) == 2) {
        return 0;
    }
    static const int kbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 and 2.5 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};         // MPEG-2 and 2.5 layers II, III
    static const int rates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? layer - 1 : layer == 1 ? 3 : 4;
    const long bitrate = kbps[table][bitrate_index] * 1000L;
    const long rate = rates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const long padding = (h[2] >> 1) & 1;
    if (layer == 1) return static_cast<std::size_t>((12 * bitrate / rate + padding) * 4);
    const long samples = layer == 3 && !mpeg1 ? 576 : 1152;
    return static_cast<std::size_t>(samples / 8 * bitrate / rate + padding);
}

// An MP3 file as the tool writes one: an ID3 tag, or a frame followed by
// another of the same stream at the offset its header gives (or by the end
// of the file, for a sound of one frame).
bool starts_like_mp3(const unsigned char* head, std::size_t n, std::uint64_t file_size) {
    if (n >= 10 && std::memcmp(head, "ID3", 3) == 0 && head[3] <= 4 && head[5] == 0) return true;
    if (n < 4) return false;
    const std::size_t length = mpeg_frame_length(head);
    if (length == 0) return false;
    if (length == file_size) return true;
    if (length + 4 > n) return false;
    const unsigned char* next = head + length;
    // The same version, layer and sample rate: one stream.
    return mpeg_frame_length(next) != 0 && (next[1] & 0xFE) == (head[1] & 0xFE) &&
           (next[2] & 0x0C) == (head[2] & 0x0C);
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

bool starts_like_output(const std::string& name, const unsigned char* head, std::size_t n, std::uint64_t file_size) {
    const std::string kind = output_kind(name);
    if (kind == "FLAC") return n >= 4 && std::memcmp(head, "fLaC", 4) == 0;
    if (kind == "Ogg") return n >= 4 && std::memcmp(head, "OggS", 4) == 0;
    if (kind == "MP3") return starts_like_mp3(head, n, file_size);
    return n >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

}  // namespace platform
