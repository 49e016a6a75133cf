// Little-endian PCM samples as WAV files and our decoders lay them out
// (8-bit unsigned; 16, 24 and 32-bit signed; 32-bit float) as doubles in
// [-1, 1): exact, so samples can be compared and stored again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace soundlib {

void pcm_samples_to_double(const std::uint8_t* p, std::size_t count, int bits, bool is_float,
                           std::vector<double>& out);

}  // namespace soundlib
