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
