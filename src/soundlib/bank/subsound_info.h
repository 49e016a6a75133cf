// What a bank reader learns about one subsound: everything a decoder needs,
// checked against the file, and nothing decoded yet.
#pragma once

#include <cstdint>

namespace soundlib {

enum class Codec {
    pcm8,
    pcm16,
    pcm24,
    pcm32,
    pcmfloat,
    gcadpcm,
    imaadpcm,
    vag,
    hevag,
    xma,
    mpeg,
    celt,
    atrac9,
    xwma,
    vorbis,
    fadpcm,
    opus,
    unknown
};

const char* codec_name(Codec codec);
// The short name listings use: PCM16, IMAADPCM, VORBIS, ...
const char* codec_short_name(Codec codec);

// A span of bytes in the bank file; size 0 means none.
struct FileSpan {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct SubsoundInfo {
    Codec codec = Codec::unknown;
    std::uint32_t channels = 0;   // 1..255 unless `problem` is set
    std::uint32_t frequency = 0;  // Hz; 0 when the bank gives none
    std::uint64_t frames = 0;     // length in sample frames
    std::uint32_t loop_start = 0;
    std::uint32_t loop_end = 0;    // inclusive
    bool loops = false;              // the range is a real loop (loop_rule.h)

    FileSpan data;   // the stored audio, inside the file
    FileSpan name;   // up to `name.size` bytes, ending early at a NUL
    FileSpan setup;  // codec set-up: DSP coefficients, Vorbis CRC and seek table

    bool pcm_big_endian = false;        // 16-bit PCM stored big-endian
    bool pcm8_signed = false;           // 8-bit PCM stored signed
    bool adpcm_interleaved = true;      // false: channel k is the k-th equal part
    std::uint32_t mpeg_frame_padding = 1;  // how the family pads MPEG frames; the stream itself decides (mpeg_frames.h)

    // The file ends inside the data (a truncated file): `data` holds what
    // is there.
    bool cut_short = false;

    // Set when the header describes something no decoder can take (0
    // channels, say): reading the subsound fails with this reason.
    const char* problem = nullptr;
};

}  // namespace soundlib
