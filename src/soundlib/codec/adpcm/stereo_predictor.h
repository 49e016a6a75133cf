#pragma once

// Two channels' second-order predictors in one SSE2 vector, a 32-bit lane
// each: one multiply-add of the (h1, h2) pairs by the weights gives both
// predictions, and the 16-bit pack's saturation is the clamp. The chain
// from one sample to the next is shorter than the scalar one, and there is
// only the one chain to wait on. GC DSP ADPCM and PS ADPCM share it; they
// differ in what they add before the shift and in the shift.

#include <cstdint>

#include "soundlib/codec/adpcm/adpcm_blocks.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ADPCM_STEREO_VECTOR 1

namespace soundlib::adpcm {

class StereoPredictor {
public:
    StereoPredictor(const History& left, const History& right)
        : pairs_(_mm_set_epi32(0, 0, pair(right.h1, right.h2), pair(left.h1, left.h2))),
          previous_(_mm_set_epi32(0, 0, 0, pair(left.h1, right.h1))) {}

    // The weights of h1 and h2 for each channel.
    static __m128i weights(int left1, int left2, int right1, int right2) {
        return _mm_set_epi32(0, 0, pair(right1, right2), pair(left1, left2));
    }

    // One stereo frame: (h1 * w1 + h2 * w2 + add) >> Shift per channel,
    // clamped; both 16-bit samples in one value, the left one low.
    template <int Shift>
    std::int32_t step(__m128i weights, int left_add, int right_add) {
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(pairs_, weights), _mm_set_epi32(0, 0, right_add, left_add));
        const __m128i shifted = _mm_srai_epi32(sum, Shift);
        const __m128i samples = _mm_packs_epi32(shifted, shifted);
        pairs_ = _mm_unpacklo_epi16(samples, previous_);
        previous_ = samples;
        return _mm_cvtsi128_si32(samples);
    }

    void save(History& left, History& right) const {
        left = unpair(static_cast<std::uint32_t>(_mm_cvtsi128_si32(pairs_)));
        right = unpair(static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(pairs_, 4))));
    }

private:
    static int pair(std::int64_t low, std::int64_t high) {
        return static_cast<int>(static_cast<std::uint16_t>(low) |
                                static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16);
    }
    static History unpair(std::uint32_t lane) {
        return History{static_cast<std::int16_t>(lane & 0xFFFF), static_cast<std::int16_t>(lane >> 16)};
    }

    __m128i pairs_;     // per channel: h1 low, h2 high
    __m128i previous_;  // the last frame's samples, to become each h2
};

}  // namespace soundlib::adpcm
#endif
