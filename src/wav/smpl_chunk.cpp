#include "wav/smpl_chunk.h"

#include <cstring>

namespace {

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr std::uint32_t kUnityNote = 60;  // middle C: play at the recorded pitch

}  // namespace

void make_smpl_chunk(std::uint8_t (&chunk)[SMPL_CHUNK_BYTES], std::uint32_t sample_rate, std::uint32_t start,
                     std::uint32_t end) {
    std::memset(chunk, 0, sizeof chunk);
    std::memcpy(chunk, "smpl", 4);
    put32(chunk + 4, SMPL_CHUNK_BYTES - 8);
    std::uint8_t* body = chunk + 8;
    // Manufacturer and product 0; the sample period in nanoseconds.
    put32(body + 8, sample_rate ? 1000000000u / sample_rate : 0);
    put32(body + 12, kUnityNote);
    put32(body + 28, 1);  // one loop, no sampler data
    std::uint8_t* loop = body + 36;
    // Cue point 0, type 0 (forward), then the frames; fraction and play
    // count 0 (loop forever).
    put32(loop + 8, start);
    put32(loop + 12, end);
}
