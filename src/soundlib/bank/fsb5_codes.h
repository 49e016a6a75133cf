// What the codes of an FSB5 sample header stand for, for the reader and
// the writers alike: a value not in a table goes into a chunk instead.
#pragma once

#include <cstdint>

namespace soundlib::fsb5 {

// Rates by the 4-bit code in bits 1-4 of the header word.
inline constexpr std::uint32_t kFrequencies[] = {4000,  8000,  11000, 11025, 16000, 22050,
                                                 24000, 32000, 44100, 48000, 96000};
// Channels by the 2-bit code in bits 5-6.
inline constexpr std::uint32_t kChannelCounts[] = {1, 2, 6, 8};

// Chunk types we read or write; every other one is skipped by its size.
inline constexpr std::uint32_t kChunkChannels = 1;
inline constexpr std::uint32_t kChunkFrequency = 2;
inline constexpr std::uint32_t kChunkLoop = 3;
inline constexpr std::uint32_t kChunkDspCoefficients = 7;
inline constexpr std::uint32_t kChunkVorbisSetup = 11;
// A float: the largest magnitude of the sound's source samples, as the
// authoring tool measured it.
inline constexpr std::uint32_t kChunkPeak = 13;

}  // namespace soundlib::fsb5
