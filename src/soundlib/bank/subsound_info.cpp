#include "soundlib/bank/subsound_info.h"

#include <cstddef>
#include <iterator>

namespace soundlib {

namespace {

struct CodecNames {
    const char* long_name;   // for messages
    const char* short_name;  // for listings
};

// In the order of Codec.
constexpr CodecNames kCodecNames[] = {
    {"PCM8", "PCM8"},           {"PCM16", "PCM16"},       {"PCM24", "PCM24"},
    {"PCM32", "PCM32"},         {"PCM float", "PCMFLOAT"}, {"GC DSP ADPCM", "GCADPCM"},
    {"IMA ADPCM", "IMAADPCM"},  {"PS ADPCM (VAG)", "VAG"}, {"HEVAG", "HEVAG"},
    {"XMA", "XMA"},             {"MPEG", "MPEG"},         {"CELT", "CELT"},
    {"ATRAC9", "ATRAC9"},       {"XWMA", "XWMA"},         {"Vorbis", "VORBIS"},
    {"FADPCM", "FADPCM"},       {"Opus", "OPUS"},         {"unknown", "UNKNOWN"}};
static_assert(std::size(kCodecNames) == static_cast<std::size_t>(Codec::unknown) + 1);

const CodecNames& names_of(Codec codec) {
    const auto i = static_cast<std::size_t>(codec);
    return kCodecNames[i < std::size(kCodecNames) ? i : std::size(kCodecNames) - 1];
}

}  // namespace

const char* codec_name(Codec codec) { return names_of(codec).long_name; }

const char* codec_short_name(Codec codec) { return names_of(codec).short_name; }

}  // namespace soundlib
