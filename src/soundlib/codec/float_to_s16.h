// Decoded float samples to 16 bits the way the references convert them:
// x * 32767 computed in float, truncated toward zero, then clamped; NaN
// gives 0. The loops take eight samples at a time with SSE2 where the
// compiler has it (every x86-64), since the compiler's own vectorisation of
// the clamps costs several times more.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define SOUNDLIB_SSE2 1
#endif

namespace soundlib {

inline std::int16_t float_to_s16(float x) {
    float v = x * 32767.0f;
    v = v == v ? v : 0.0f;
    v = std::clamp(v, -32768.0f, 32767.0f);
    return static_cast<std::int16_t>(static_cast<std::int32_t>(v));
}

namespace detail {

inline void store_s16(std::uint8_t* out, std::int16_t value) {
    const auto v = static_cast<std::uint16_t>(value);
    out[0] = static_cast<std::uint8_t>(v & 0xFF);
    out[1] = static_cast<std::uint8_t>(v >> 8);
}

#ifdef SOUNDLIB_SSE2
// Four samples to 32-bit integers already in the 16-bit range.
inline __m128i convert4(const float* in) {
    __m128 v = _mm_mul_ps(_mm_loadu_ps(in), _mm_set1_ps(32767.0f));
    v = _mm_and_ps(v, _mm_cmpord_ps(v, v));  // NaN to 0
    v = _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    return _mm_cvttps_epi32(v);
}

// Eight samples to eight 16-bit ones (the saturation never bites).
inline __m128i convert8(const float* in) { return _mm_packs_epi32(convert4(in), convert4(in + 4)); }
#endif

}  // namespace detail

// n samples from `in` to 16-bit little-endian at `out`, in the same order.
inline void floats_to_s16(const float* in, std::size_t n, std::uint8_t* out) {
    std::size_t i = 0;
#ifdef SOUNDLIB_SSE2
    for (; i + 8 <= n; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), detail::convert8(in + i));
    }
#endif
    for (; i < n; ++i) detail::store_s16(out + 2 * i, float_to_s16(in[i]));
}

// `frames` frames of one float array per channel to interleaved 16-bit
// little-endian at `out`.
inline void planes_to_s16(const float* const* planes, std::uint32_t channels, std::size_t frames,
                          std::uint8_t* out) {
    if (channels == 1) {
        floats_to_s16(planes[0], frames, out);
        return;
    }
    std::size_t f = 0;
    if (channels == 2) {
#ifdef SOUNDLIB_SSE2
        for (; f + 8 <= frames; f += 8) {
            const __m128i left = detail::convert8(planes[0] + f);
            const __m128i right = detail::convert8(planes[1] + f);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * f), _mm_unpacklo_epi16(left, right));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * f + 16), _mm_unpackhi_epi16(left, right));
        }
#endif
    }
    for (; f < frames; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            detail::store_s16(out + 2 * (f * channels + c), float_to_s16(planes[c][f]));
        }
    }
}

}  // namespace soundlib
