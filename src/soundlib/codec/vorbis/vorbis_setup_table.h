// Which step and encoder make each setup header at the usual rates. The
// table is generated at build time (tools/make_vorbis_setup_table.cpp) from
// the libvorbisenc the tool links against, so that at these rates a CRC
// costs one generated set-up, or none when nothing makes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace soundlib {

// Every step of every encoder we rebuild, for one and two channels.
inline constexpr std::uint32_t kVorbisTableRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
inline constexpr std::uint32_t kVorbisTableMaxChannels = 2;

struct VorbisSetupTableEntry {
    std::uint32_t rate;
    std::uint32_t crc;
    std::uint8_t channels;
    std::uint8_t step;     // the first step, in search order, that makes this header
    std::uint8_t variant;  // a VorbisVariant
};

// Sorted by channels, rate, CRC.
extern const VorbisSetupTableEntry kVorbisSetupTable[];
extern const std::size_t kVorbisSetupTableSize;
// vorbis_version_string() of the library that made it: with another one
// the table is not trusted.
extern const char kVorbisSetupTableLibrary[];

}  // namespace soundlib
