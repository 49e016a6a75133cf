#include "soundlib/codec/adpcm/fadpcm.h"

#include <algorithm>

#include "soundlib/codec/adpcm/adpcm_blocks.h"
#include "soundlib/io/bytes.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define FADPCM_STEREO_VECTOR 1
#endif

namespace soundlib {

namespace {

using namespace adpcm;

constexpr std::uint32_t kFrameBytes = 140;
constexpr std::uint32_t kFrameSamples = 256;
constexpr std::uint32_t kGroups = 8;  // of 32 samples, each with its own coefficients and shift
// Coefficient pairs in 64ths; the second weighs the sample before last, subtracted.
constexpr int kCoefficients[5][2] = {{0, 0}, {60, 0}, {122, 60}, {115, 52}, {98, 55}};

class FadpcmSource final : public BlockSource {
public:
    using BlockSource::BlockSource;

protected:
    std::uint32_t decode_blocks(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out,
                                int& bad_channel, std::string& problem) override {
        const std::uint8_t* data = lanes[0];
        std::uint32_t b = 0;
#ifdef FADPCM_STEREO_VECTOR
        if (layout().channels == 2) {
            for (; b + 4 <= count; b += 4) {
                const std::uint8_t* first = data + std::size_t{b} * kFrameBytes * 2;
                if (!indices_valid(first, 8)) break;  // the plain path says where
                decode_stereo4(first, out + std::size_t{b} * kFrameSamples * 4);
            }
        }
#endif
        data += std::size_t{b} * kFrameBytes * layout().channels;
        out += std::size_t{b} * kFrameSamples * layout().channels * 2;
        switch (layout().channels) {
            case 1: return b + decode<1>(data, count - b, out, bad_channel, problem);
            case 2: return b + decode<2>(data, count - b, out, bad_channel, problem);
            default: return b + decode<0>(data, count - b, out, bad_channel, problem);
        }
    }

private:
    static bool indices_valid(const std::uint8_t* first, std::uint32_t frames) {
        for (std::uint32_t f = 0; f < frames; ++f) {
            const std::uint32_t indices = le32(first + std::size_t{f} * kFrameBytes);
            for (std::uint32_t g = 0; g < kGroups; ++g) {
                if (((indices >> (4 * g)) & 0x0F) > 4) return false;
            }
        }
        return true;
    }

#ifdef FADPCM_STEREO_VECTOR
    // Low 32 bits of a * b in each lane (SSE2 multiplies only two lanes at
    // a time); b_odd is b shifted down one lane.
    static __m128i mul32(__m128i a, __m128i b, __m128i b_odd) {
        const __m128i even = _mm_mul_epu32(a, b);
        const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), b_odd);
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                  _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
    }

    // Stereo, four blocks at once: their eight frames carry their own
    // history, so each is a chain of its own, four to a vector of 32-bit
    // lanes (block, channel). One multiply-add of the (h1, h2) pairs by
    // (c1, -c2) gives the prediction, and the 16-bit pack's saturation is
    // the clamp; the previous pack holds h1 for the next pair.
    static void decode_stereo4(const std::uint8_t* first, std::uint8_t* out) {
        constexpr std::size_t kBlockBytes = kFrameBytes * 2;
        constexpr std::size_t kOutBytes = std::size_t{kFrameSamples} * 4;
        const std::uint8_t* frame[8];
        for (std::uint32_t j = 0; j < 8; ++j) frame[j] = first + (j / 2) * kBlockBytes + kFrameBytes * (j % 2);
        auto lanes32 = [&](std::uint32_t v, auto value) {  // value(j) for the lanes 4v..4v+3 of vector v
            return _mm_set_epi32(value(4 * v + 3), value(4 * v + 2), value(4 * v + 1), value(4 * v));
        };
        __m128i pairs[2], previous[2];
        for (std::uint32_t v = 0; v < 2; ++v) {
            const __m128i h1 = lanes32(v, [&](std::uint32_t j) { return static_cast<std::int16_t>(le16(frame[j] + 8)); });
            const __m128i h2 = lanes32(v, [&](std::uint32_t j) { return static_cast<std::int16_t>(le16(frame[j] + 10)); });
            pairs[v] = _mm_or_si128(_mm_and_si128(h1, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(h2, 16));
            previous[v] = _mm_packs_epi32(h1, h1);
        }
        __m128i held[2][4];
        for (std::uint32_t g = 0; g < kGroups; ++g) {
            __m128i weights[2], scale[2], scale_odd[2];
            for (std::uint32_t v = 0; v < 2; ++v) {
                weights[v] = lanes32(v, [&](std::uint32_t j) {
                    const unsigned index = (le32(frame[j]) >> (4 * g)) & 0x0F;
                    return static_cast<int>(static_cast<std::uint16_t>(kCoefficients[index][0]) |
                                            static_cast<std::uint32_t>(static_cast<std::uint16_t>(-kCoefficients[index][1])) << 16);
                });
                scale[v] = lanes32(v, [&](std::uint32_t j) { return 1 << (((le32(frame[j] + 4) >> (4 * g)) & 0x0F) + 6); });
                scale_odd[v] = _mm_srli_epi64(scale[v], 32);
            }
            for (std::uint32_t word = 0; word < 4; ++word) {
                __m128i codes[2];
                for (std::uint32_t v = 0; v < 2; ++v) {
                    codes[v] = lanes32(v, [&](std::uint32_t j) { return static_cast<int>(le32(frame[j] + 12 + 16 * g + 4 * word)); });
                }
                for (std::uint32_t i = 0; i < 8; ++i) {
                    const std::uint32_t n = 32 * g + 8 * word + i;
                    for (std::uint32_t v = 0; v < 2; ++v) {
                        // The code in the top four bits, shifted down arithmetically.
                        const __m128i code = _mm_srai_epi32(_mm_sll_epi32(codes[v], _mm_cvtsi32_si128(static_cast<int>(28 - 4 * i))), 28);
                        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(pairs[v], weights[v]), mul32(code, scale[v], scale_odd[v]));
                        const __m128i shifted = _mm_srai_epi32(sum, 6);
                        const __m128i samples = _mm_packs_epi32(shifted, shifted);
                        pairs[v] = _mm_unpacklo_epi16(samples, previous[v]);
                        previous[v] = samples;
                        held[v][n % 4] = samples;
                        if (n % 4 == 3) {  // frames n - 3 .. n of the vector's two blocks
                            const __m128i t0 = _mm_unpacklo_epi32(held[v][0], held[v][1]);
                            const __m128i t1 = _mm_unpacklo_epi32(held[v][2], held[v][3]);
                            std::uint8_t* dst = out + 2 * v * kOutBytes + (n - 3) * 4;
                            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi64(t0, t1));
                            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + kOutBytes), _mm_unpackhi_epi64(t0, t1));
                        }
                    }
                }
            }
        }
    }
#endif

    // Channels 1 or 2 known at compile time, so stereo runs both channels'
    // chains side by side; 0 for any count. Each channel's 140-byte frame
    // follows the one before and carries its own history.
    template <std::uint32_t Channels>
    std::uint32_t decode(const std::uint8_t* data, std::uint32_t count, std::uint8_t* out, int& bad_channel,
                         std::string& problem) {
        const std::uint32_t channels = Channels ? Channels : layout().channels;
        constexpr std::uint32_t kMost = Channels ? Channels : 1;
        const std::size_t stride = std::size_t{channels} * 2;
        for (std::uint32_t b = 0; b < count; ++b) {
            const std::uint8_t* block = data + std::size_t{b} * kFrameBytes * channels;
            std::uint8_t* dst = out + std::size_t{b} * kFrameSamples * stride;
            // Every group's coefficients are checked before any is decoded.
            for (std::uint32_t c = 0; c < channels; ++c) {
                const std::uint32_t indices = le32(block + kFrameBytes * c);
                for (std::uint32_t g = 0; g < kGroups; ++g) {
                    const unsigned index = (indices >> (4 * g)) & 0x0F;
                    if (index > 4) {
                        problem = "coefficient index " + std::to_string(index) + " of group " + std::to_string(g) +
                                  " is unknown (0 to 4)";
                        bad_channel = static_cast<int>(c);
                        return b;
                    }
                }
            }
            for (std::uint32_t c0 = 0; c0 < channels; c0 += kMost) {
                const std::uint8_t* frame[kMost];
                History h[kMost];
                for (std::uint32_t k = 0; k < kMost; ++k) {
                    frame[k] = block + kFrameBytes * (c0 + k);
                    h[k].h1 = static_cast<std::int16_t>(le16(frame[k] + 8));
                    h[k].h2 = static_cast<std::int16_t>(le16(frame[k] + 10));
                }
                for (std::uint32_t g = 0; g < kGroups; ++g) {
                    int c1[kMost], c2[kMost], shift[kMost];
                    for (std::uint32_t k = 0; k < kMost; ++k) {
                        const unsigned index = (le32(frame[k]) >> (4 * g)) & 0x0F;
                        shift[k] = static_cast<int>((le32(frame[k] + 4) >> (4 * g)) & 0x0F) + 6;
                        c1[k] = kCoefficients[index][0];
                        c2[k] = kCoefficients[index][1];
                    }
                    for (std::uint32_t word = 0; word < 4; ++word) {
                        std::uint32_t packed[kMost];
                        for (std::uint32_t k = 0; k < kMost; ++k) packed[k] = le32(frame[k] + 12 + 16 * g + 4 * word);
                        for (std::uint32_t i = 0; i < 8; ++i) {
                            const std::uint32_t n = 32 * g + 8 * word + i;
                            for (std::uint32_t k = 0; k < kMost; ++k) {
                                // The code in the top four bits, shifted down arithmetically.
                                const int code = static_cast<std::int32_t>(packed[k] << (28 - 4 * i)) >> 28;
                                const int sample =
                                    std::clamp(((code << shift[k]) + c1[k] * h[k].h1 - c2[k] * h[k].h2) >> 6, -32768, 32767);
                                h[k].h2 = h[k].h1;
                                h[k].h1 = sample;
                                store16(dst + n * stride + 2 * (c0 + k), sample);
                            }
                        }
                    }
                }
            }
        }
        return count;
    }
};

}  // namespace

std::unique_ptr<FrameSource> make_fadpcm_source(const SubsoundInfo& info, BankFile& file) {
    // Each frame carries its own history, so any frame is a starting point.
    const BlockLayout layout = shared_block_layout("FADPCM", info.channels, kFrameSamples, kFrameBytes, false);
    return std::make_unique<FadpcmSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames);
}

}  // namespace soundlib
