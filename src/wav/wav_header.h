// The 44-byte RIFF/WAVE header every output file starts with: one template
// for the process, patched for each file.
#pragma once

#include <cstdint>

constexpr std::uint32_t WAV_HEADER_BYTES = 44;
// The rate written when the library knows none for a subsound.
constexpr std::uint32_t OUTPUT_SAMPLE_RATE = 44100;
// The most audio a data chunk can describe, its pad byte and the rest of
// the header counted in the 32-bit RIFF size.
constexpr std::uint64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFull - 36 - 1;

extern std::uint8_t wav_header[WAV_HEADER_BYTES];

// Bytes per sample frame: channels x whole bytes per sample (12 bits give 1).
int wav_block_align(int channels, int bits);

// Sets every field that varies between files and returns the block align.
// Format tag 3 for float samples, 1 otherwise. `trailing_bytes`: chunks
// written after the data chunk (and its pad byte), counted in the RIFF size.
int patch_wav_header(int channels, int bits, std::uint32_t pcm_bytes, std::uint32_t sample_rate, bool is_float,
                     std::uint32_t trailing_bytes = 0);

// Sets the data size, and the RIFF size with the pad byte an odd data size
// needs and the chunks after it, to what actually reached the file.
void patch_wav_sizes(std::uint32_t data_bytes, std::uint32_t trailing_bytes = 0);

// The same on a header of one's own, started as a copy of the template, for
// a writer that must not share the process-wide one.
int patch_wav_header(std::uint8_t* header, int channels, int bits, std::uint32_t pcm_bytes, std::uint32_t sample_rate,
                     bool is_float, std::uint32_t trailing_bytes);
void patch_wav_sizes(std::uint8_t* header, std::uint32_t data_bytes, std::uint32_t trailing_bytes);
