#include "soundlib/codec/adpcm/ima_adpcm.h"

#include <algorithm>
#include <cstring>

#include "soundlib/codec/adpcm/adpcm_blocks.h"
#include "soundlib/codec/adpcm/ima_layout.h"
#include "soundlib/io/bytes.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define IMA_STEREO_VECTOR 1
#endif

namespace soundlib {

namespace {

using namespace adpcm;
using namespace ima;

// For each step index and 4-bit code, one entry: the signed difference the
// code adds (above bit 11) and the next step index times 16 (below it, the
// row of the next sample's entry). One load per sample instead of a sum
// over the code's bits and two clamps.
constexpr int kEntryShift = 11;

struct Table {
    std::int32_t entry[(kMaxStepIndex + 1) * 16];
};

constexpr Table make_table() {
    Table t{};
    for (int index = 0; index <= kMaxStepIndex; ++index) {
        const int step = kSteps[index];
        for (int code = 0; code < 16; ++code) {
            int diff = step >> 3;
            if (code & 4) diff += step;
            if (code & 2) diff += step >> 1;
            if (code & 1) diff += step >> 2;
            const int next = std::clamp(index + kIndexChange[code & 7], 0, kMaxStepIndex);
            t.entry[index * 16 + code] = ((code & 8) ? -diff : diff) * (1 << kEntryShift) + next * 16;
        }
    }
    return t;
}

constexpr Table kTable = make_table();

#ifdef IMA_STEREO_VECTOR
// The same, for the vector path, in two tables: the difference split into
// two halves of its sign, each within 16 bits (bits 0-15 and 16-31), and
// the next row on its own, so that the chain from one code to the next is
// one add and one 16-bit load.
struct SplitTable {
    std::uint32_t halves[(kMaxStepIndex + 1) * 16];
    std::uint16_t next[(kMaxStepIndex + 1) * 16];
};

constexpr SplitTable make_split_table() {
    SplitTable t{};
    for (int k = 0; k < (kMaxStepIndex + 1) * 16; ++k) {
        const std::int32_t e = kTable.entry[k];
        const int diff = e >> kEntryShift;
        const int half = diff >> 1;
        t.halves[k] = static_cast<std::uint16_t>(half) | std::uint32_t{static_cast<std::uint16_t>(diff - half)} << 16;
        t.next[k] = static_cast<std::uint16_t>(e & ((1 << kEntryShift) - 1));
    }
    return t;
}

constexpr SplitTable kSplitTable = make_split_table();
#endif

struct Channel {
    int predictor;
    int row;  // the step index times 16

    int step(unsigned code) {
        const std::int32_t e = kTable.entry[static_cast<unsigned>(row) + code];
        predictor = std::clamp(predictor + (e >> kEntryShift), -32768, 32767);
        row = e & ((1 << kEntryShift) - 1);
        return predictor;
    }
};

class ImaAdpcmSource final : public BlockSource {
public:
    using BlockSource::BlockSource;

protected:
    std::uint32_t decode_blocks(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out,
                                int& bad_channel, std::string& problem) override {
        const std::uint32_t channels = layout().channels;
        const std::uint32_t block_bytes = layout().block_bytes;
        const std::size_t out_bytes = std::size_t{kBlockFrames} * channels * 2;
        std::uint32_t b = 0;
#ifdef IMA_STEREO_VECTOR
        if (channels == 2) {
            for (; b + 4 <= count; b += 4) {
                const std::uint8_t* block = lanes[0] + std::size_t{b} * block_bytes;
                bool valid = true;
                for (std::uint32_t k = 0; k < 4; ++k) valid = valid && headers_valid(block + k * block_bytes, 2);
                if (!valid) break;
                decode_stereo4(block, out + b * out_bytes);
            }
        }
#endif
        if (channels <= 2) {
            // Blocks start afresh, so two at a time give two more chains to
            // overlap; a pair with a bad header goes the single way.
            for (; b + 2 <= count; b += 2) {
                const std::uint8_t* block = lanes[0] + std::size_t{b} * block_bytes;
                if (!headers_valid(block, channels) || !headers_valid(block + block_bytes, channels)) break;
                if (channels == 1) {
                    decode_narrow<1, 2>(block, out + b * out_bytes);
                } else {
                    decode_narrow<2, 2>(block, out + b * out_bytes);
                }
            }
        }
        for (; b < count; ++b) {
            const std::uint8_t* block = lanes[0] + std::size_t{b} * block_bytes;
            std::uint8_t* dst = out + b * out_bytes;
            const bool wide = channels > 2;
            for (std::uint32_t c = 0; c < channels; ++c) {
                const std::uint8_t step_byte = wide ? block[2 * channels + 2 * c] : block[4 * c + 2];
                if (step_byte > kMaxStepIndex) {
                    problem = "step index " + std::to_string(step_byte) + " is beyond " + std::to_string(kMaxStepIndex);
                    bad_channel = static_cast<int>(c);
                    return b;
                }
            }
            switch (channels) {
                case 1: decode_narrow<1, 1>(block, dst); break;
                case 2: decode_narrow<2, 1>(block, dst); break;
                default: decode_wide(block, channels, dst); break;
            }
        }
        return count;
    }

private:
    static bool headers_valid(const std::uint8_t* block, std::uint32_t channels) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            if (block[4 * c + 2] > kMaxStepIndex) return false;
        }
        return true;
    }

#ifdef IMA_STEREO_VECTOR
    // Stereo, four blocks at once: eight chains. The step index does not
    // depend on the samples, so a scalar pass walks the eight index chains
    // and notes each code's difference; a vector pass then adds them up,
    // eight samples at a time. Two saturating 16-bit adds of a
    // difference's halves clamp exactly as a wide add and a clamp would:
    // the halves share the sign, so the first add saturates only when the
    // whole sum does.
    static void decode_stereo4(const std::uint8_t* first, std::uint8_t* out) {
        constexpr std::size_t kBlockBytes = kChannelBlockBytes * 2;
        constexpr std::size_t kOutBytes = std::size_t{kBlockFrames} * 4;
        alignas(16) std::uint32_t halves[kBlockFrames - 1][8];
        alignas(16) std::int16_t start[8];
        unsigned row[8];
        for (std::uint32_t lane = 0; lane < 8; ++lane) {
            const std::uint8_t* header = first + (lane / 2) * kBlockBytes + 4 * (lane % 2);
            start[lane] = static_cast<std::int16_t>(le16(header));
            row[lane] = header[2] * 16u;
            store16(out + (lane / 2) * kOutBytes + 2 * (lane % 2), start[lane]);
        }
        // Four chains at a time (two blocks), each run's 32-bit word of
        // codes held in a register: enough chains to overlap the table
        // loads, few enough to stay in registers.
        for (std::uint32_t pair = 0; pair < 2; ++pair) {
            const std::uint32_t lane = 4 * pair;
            unsigned r0 = row[lane], r1 = row[lane + 1], r2 = row[lane + 2], r3 = row[lane + 3];
            const std::uint8_t* codes0 = first + 2 * pair * kBlockBytes + 8;
            const std::uint8_t* codes1 = codes0 + kBlockBytes;
            for (std::uint32_t run = 0; run < 8; ++run) {
                const std::uint32_t w0 = le32(codes0 + 8 * run), w1 = le32(codes0 + 8 * run + 4);
                const std::uint32_t w2 = le32(codes1 + 8 * run), w3 = le32(codes1 + 8 * run + 4);
                const std::uint32_t codes = run == 7 ? 7 : 8;  // the block's last code is the unused 64th
                for (std::uint32_t j = 0; j < codes; ++j) {
                    const unsigned a0 = r0 + ((w0 >> (4 * j)) & 15), a1 = r1 + ((w1 >> (4 * j)) & 15);
                    const unsigned a2 = r2 + ((w2 >> (4 * j)) & 15), a3 = r3 + ((w3 >> (4 * j)) & 15);
                    r0 = kSplitTable.next[a0];
                    r1 = kSplitTable.next[a1];
                    r2 = kSplitTable.next[a2];
                    r3 = kSplitTable.next[a3];
                    std::uint32_t* h = &halves[8 * run + j][lane];
                    h[0] = kSplitTable.halves[a0];
                    h[1] = kSplitTable.halves[a1];
                    h[2] = kSplitTable.halves[a2];
                    h[3] = kSplitTable.halves[a3];
                }
            }
        }

        // Lanes hold (block, channel) pairs: each 32-bit lane is one block's
        // stereo frame. Four frames at a time are turned into four stores.
        __m128i p = _mm_load_si128(reinterpret_cast<const __m128i*>(start));
        __m128i frames[4];
        constexpr std::uint32_t kGrouped = (kBlockFrames - 1) / 4 * 4;
        for (std::uint32_t n = 0; n < kBlockFrames - 1; ++n) {
            const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i*>(halves[n]));
            const __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i*>(halves[n] + 4));
            const __m128i first_half = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(lo, 16), 16),
                                                       _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16));
            const __m128i second_half = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
            p = _mm_adds_epi16(_mm_adds_epi16(p, first_half), second_half);
            if (n >= kGrouped) {  // the last three frames, one block at a time
                std::uint8_t* dst = out + (n + 1) * 4;
                store32(dst, _mm_cvtsi128_si32(p));
                store32(dst + kOutBytes, _mm_cvtsi128_si32(_mm_srli_si128(p, 4)));
                store32(dst + 2 * kOutBytes, _mm_cvtsi128_si32(_mm_srli_si128(p, 8)));
                store32(dst + 3 * kOutBytes, _mm_cvtsi128_si32(_mm_srli_si128(p, 12)));
                continue;
            }
            frames[n % 4] = p;
            if (n % 4 == 3) {
                std::uint8_t* dst = out + (n - 2) * 4;  // frames n - 2 .. n + 1 of each block
                const __m128i t0 = _mm_unpacklo_epi32(frames[0], frames[1]);
                const __m128i t1 = _mm_unpacklo_epi32(frames[2], frames[3]);
                const __m128i t2 = _mm_unpackhi_epi32(frames[0], frames[1]);
                const __m128i t3 = _mm_unpackhi_epi32(frames[2], frames[3]);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi64(t0, t1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + kOutBytes), _mm_unpackhi_epi64(t0, t1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * kOutBytes), _mm_unpacklo_epi64(t2, t3));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * kOutBytes), _mm_unpackhi_epi64(t2, t3));
            }
        }
    }

    static void store32(std::uint8_t* dst, std::int32_t v) { std::memcpy(dst, &v, 4); }
#endif

    // Mono and stereo: each channel has a 4-byte header (sample, step
    // index, reserved), then the channels take turns with 4-byte runs of
    // codes, low nibble first. Decodes `Blocks` blocks side by side.
    template <std::uint32_t Channels, std::uint32_t Blocks>
    static void decode_narrow(const std::uint8_t* first, std::uint8_t* out) {
        constexpr std::size_t kBlockBytes = kChannelBlockBytes * Channels;
        constexpr std::size_t kOutBytes = std::size_t{kBlockFrames} * Channels * 2;
        Channel ch[Blocks][Channels];
        for (std::uint32_t k = 0; k < Blocks; ++k) {
            for (std::uint32_t c = 0; c < Channels; ++c) {
                const std::uint8_t* header = first + k * kBlockBytes + 4 * c;
                ch[k][c].predictor = static_cast<std::int16_t>(le16(header));
                ch[k][c].row = header[2] * 16;
                store16(out + k * kOutBytes + 2 * c, ch[k][c].predictor);
            }
        }
        for (std::uint32_t run = 0; run < 8; ++run) {
            for (std::uint32_t i = 0; i < 4; ++i) {
                const bool last = run == 7 && i == 3;  // its high nibble is the unused 64th code
                const std::size_t frame = 1 + 2 * (4 * run + i);
                for (std::uint32_t k = 0; k < Blocks; ++k) {
                    const std::uint8_t* codes = first + k * kBlockBytes + 4 * Channels;
                    std::uint8_t* dst = out + k * kOutBytes + frame * Channels * 2;
                    for (std::uint32_t c = 0; c < Channels; ++c) {
                        const std::uint8_t byte = codes[(run * Channels + c) * 4 + i];
                        store16(dst + 2 * c, ch[k][c].step(byte & 0x0F));
                        if (!last) store16(dst + 2 * (Channels + c), ch[k][c].step(byte >> 4));
                    }
                }
            }
        }
    }

    // More channels: all first samples, then all step bytes, then the
    // channels take turns with 2-byte runs of codes.
    static void decode_wide(const std::uint8_t* block, std::uint32_t channels, std::uint8_t* out) {
        const std::uint8_t* codes = block + 4 * channels;
        const std::size_t stride = std::size_t{channels} * 2;  // bytes per output frame
        for (std::uint32_t c = 0; c < channels; ++c) {
            Channel ch{static_cast<std::int16_t>(le16(block + 2 * c)), block[2 * channels + 2 * c] * 16};
            std::uint8_t* dst = out + 2 * c;
            store16(dst, ch.predictor);
            for (std::uint32_t byte = 0; byte < 32; ++byte) {
                const std::uint8_t packed = codes[(byte / 2) * 2 * channels + c * 2 + byte % 2];
                store16(dst + (2 * byte + 1) * stride, ch.step(packed & 0x0F));
                if (byte != 31) store16(dst + (2 * byte + 2) * stride, ch.step(packed >> 4));
            }
        }
    }
};

}  // namespace

std::unique_ptr<FrameSource> make_ima_adpcm_source(const SubsoundInfo& info, BankFile& file) {
    const BlockLayout layout =
        shared_block_layout("IMA ADPCM", info.channels, kBlockFrames, kChannelBlockBytes, false);
    return std::make_unique<ImaAdpcmSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames);
}

}  // namespace soundlib
