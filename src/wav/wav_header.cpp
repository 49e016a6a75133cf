#include "wav/wav_header.h"

// Starts as 16-bit stereo integer PCM at 44100 Hz with both sizes 0.
std::uint8_t wav_header[WAV_HEADER_BYTES] = {
    'R',  'I',  'F', 'F', 0,    0,    0,    0, 'W', 'A', 'V', 'E',  // RIFF size, form
    'f',  'm',  't', ' ', 16,   0,    0,    0, 1,   0,   2,   0,    // fmt size, format tag, channels
    0x44, 0xAC, 0,   0,   0x10, 0xB1, 0x02, 0, 4,   0,   16,  0,    // rate, byte rate, align, bits
    'd',  'a',  't', 'a', 0,    0,    0,    0};                      // data size

namespace {

void put16(std::uint8_t* header, std::uint32_t offset, std::uint32_t v) {
    header[offset] = static_cast<std::uint8_t>(v);
    header[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* header, std::uint32_t offset, std::uint32_t v) {
    put16(header, offset, v & 0xFFFF);
    put16(header, offset + 2, v >> 16);
}

}  // namespace

int wav_block_align(int channels, int bits) { return channels * (bits / 8); }

int patch_wav_header(std::uint8_t* header, int channels, int bits, std::uint32_t pcm_bytes, std::uint32_t sample_rate,
                     bool is_float, std::uint32_t trailing_bytes) {
    const int block_align = wav_block_align(channels, bits);
    put16(header, 20, is_float ? 3 : 1);
    put16(header, 22, static_cast<std::uint32_t>(channels) & 0xFFFF);
    put32(header, 24, sample_rate);
    put32(header, 28, static_cast<std::uint32_t>(block_align) * sample_rate);
    put16(header, 32, static_cast<std::uint32_t>(block_align) & 0xFFFF);
    put16(header, 34, static_cast<std::uint32_t>(bits) & 0xFFFF);
    patch_wav_sizes(header, pcm_bytes, trailing_bytes);
    return block_align;
}

void patch_wav_sizes(std::uint8_t* header, std::uint32_t data_bytes, std::uint32_t trailing_bytes) {
    put32(header, 4, data_bytes + 36 + (data_bytes & 1) + trailing_bytes);
    put32(header, 40, data_bytes);
}

int patch_wav_header(int channels, int bits, std::uint32_t pcm_bytes, std::uint32_t sample_rate, bool is_float,
                     std::uint32_t trailing_bytes) {
    return patch_wav_header(wav_header, channels, bits, pcm_bytes, sample_rate, is_float, trailing_bytes);
}

void patch_wav_sizes(std::uint32_t data_bytes, std::uint32_t trailing_bytes) {
    patch_wav_sizes(wav_header, data_bytes, trailing_bytes);
}
