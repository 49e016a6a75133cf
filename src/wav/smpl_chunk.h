// The standard "smpl" chunk that tells players and samplers where a sound
// loops: written after the data chunk of a looping sound.
#pragma once

#include <cstdint>

// The chunk with its 8-byte head: 36 bytes of sampler data and one loop.
constexpr std::uint32_t SMPL_CHUNK_BYTES = 8 + 36 + 24;

// One forward loop from frame `start` to frame `end`, both included.
void make_smpl_chunk(std::uint8_t (&chunk)[SMPL_CHUNK_BYTES], std::uint32_t sample_rate, std::uint32_t start,
                     std::uint32_t end);
