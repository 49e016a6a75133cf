// Files of the other output formats decoded back, to compare with the WAV
// of the same sound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bytes of a WAV file's data chunk; empty when it has none.
std::vector<std::uint8_t> wav_data(const std::string& path);

// A FLAC file's samples laid out as a WAV's data chunk would hold them.
struct FlacDecode {
    std::vector<std::uint8_t> data;
    unsigned bits = 0;
    bool ok = false;  // it decoded, and its MD5 matched (as `flac -t` checks)
};
FlacDecode decode_flac(const std::string& path);

// An Ogg Vorbis or MP3 file decoded as the tool decodes (float samples
// converted to 16 bits as it converts them), laid out as a WAV's data chunk.
struct LossyDecode {
    std::vector<std::uint8_t> data;
    unsigned channels = 0;
    long rate = 0;
    bool ok = false;  // it opened and decoded to its end without an error
    std::string error;
};
// With libvorbisfile.
LossyDecode decode_ogg(const std::string& path);
// With libmpg123, without gapless trimming (nothing of a stream's start or
// end is dropped).
LossyDecode decode_mp3(const std::string& path);
