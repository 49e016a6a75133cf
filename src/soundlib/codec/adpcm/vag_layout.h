// What the PS ADPCM (VAG) decoder and encoder must agree on.
#pragma once

#include <cstdint>

namespace soundlib::vag {

inline constexpr std::uint32_t kFrameBytes = 16;
inline constexpr std::uint32_t kFrameSamples = 28;
// Prediction filters, in 64ths: weights of the previous and the one before.
inline constexpr int kFilters[5][2] = {{0, 0}, {60, 0}, {115, -52}, {98, -55}, {122, -60}};

}  // namespace soundlib::vag
