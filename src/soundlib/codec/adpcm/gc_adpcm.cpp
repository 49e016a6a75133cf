#include "soundlib/codec/adpcm/gc_adpcm.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "soundlib/codec/adpcm/adpcm_blocks.h"
#include "soundlib/codec/adpcm/stereo_predictor.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

using namespace adpcm;

constexpr std::uint32_t kFrameBytes = 8;
constexpr std::uint32_t kFrameSamples = 14;
// Per channel in the set-up bytes: 16 big-endian coefficients, then gain,
// initial and loop predictor and history, which decoding does not need.
constexpr std::uint32_t kChannelSetupBytes = 0x2E;
constexpr std::uint32_t kCoefficientBytes = 32;

using Coefficients = std::array<int, 16>;

class GcAdpcmSource final : public BlockSource {
public:
    GcAdpcmSource(const BlockLayout& layout, DataRange data, std::uint64_t total_frames,
                  std::vector<Coefficients> coefficients)
        : BlockSource(layout, data, total_frames), coefficients_(std::move(coefficients)) {
        // 32-bit sums are exact while no pair weighs more than this in all:
        // 49151 * 32768, plus the largest scaled code, stays below 2^31.
        for (const Coefficients& c : coefficients_) {
            for (int pair = 0; pair < 8; ++pair) {
                fits_32_bits_ = fits_32_bits_ && std::abs(c[2 * pair]) + std::abs(c[2 * pair + 1]) <= 49151;
            }
        }
    }

protected:
    std::uint32_t decode_blocks(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out,
                                int& bad_channel, std::string& problem) override {
#ifdef ADPCM_STEREO_VECTOR
        if (layout().channels == 2 && fits_32_bits_) return decode_stereo(lanes, count, out, bad_channel, problem);
#endif
        switch (layout().channels) {
            case 1: return decode<1>(lanes, count, out, bad_channel, problem);
            case 2: return decode<2>(lanes, count, out, bad_channel, problem);
            default: return decode<0>(lanes, count, out, bad_channel, problem);
        }
    }

private:
#ifdef ADPCM_STEREO_VECTOR
    // Stereo through the shared predictor.
    std::uint32_t decode_stereo(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out,
                                int& bad_channel, std::string& problem) {
        count = valid_blocks(lanes, count, 2, bad_channel, problem);
        StereoPredictor predictor(history_[0], history_[1]);
        for (std::uint32_t b = 0; b < count; ++b) {
            const Frame f[2] = {gather(lanes, b, 0, 2), gather(lanes, b, 1, 2)};
            const __m128i weights = StereoPredictor::weights(static_cast<int>(f[0].c1), static_cast<int>(f[0].c2),
                                                             static_cast<int>(f[1].c1), static_cast<int>(f[1].c2));
            std::uint8_t* dst = out + std::size_t{b} * kFrameSamples * 4;
            for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
                const auto left = static_cast<int>((code(f[0].bits, n) << f[0].shift) + 1024);
                const auto right = static_cast<int>((code(f[1].bits, n) << f[1].shift) + 1024);
                const std::int32_t frame_out = predictor.step<11>(weights, left, right);
                std::memcpy(dst + 4 * n, &frame_out, 4);
            }
        }
        predictor.save(history_[0], history_[1]);
        return count;
    }
#endif

    // One channel's frame: its eight bytes as one little-endian word, and
    // the prediction it starts with.
    struct Frame {
        std::uint64_t bits;
        int shift;  // exponent + 11
        std::int64_t c1;
        std::int64_t c2;
    };

    const std::uint8_t* frame_start(const std::uint8_t* const* lanes, std::uint32_t b, std::uint32_t c,
                                    std::uint32_t channels) const {
        return layout().lane_per_channel ? lanes[c] + std::size_t{b} * kFrameBytes
                                         : lanes[0] + std::size_t{b} * kFrameBytes * channels + 2 * c;
    }

    // The blocks before the first with a bad header; the bad one reported.
    std::uint32_t valid_blocks(const std::uint8_t* const* lanes, std::uint32_t count, std::uint32_t channels,
                               int& bad_channel, std::string& problem) const {
        for (std::uint32_t b = 0; b < count; ++b) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                const unsigned pair = frame_start(lanes, b, c, channels)[0] >> 4;
                if (pair > 7) {
                    problem = "coefficient pair " + std::to_string(pair) + " does not exist (0 to 7)";
                    bad_channel = static_cast<int>(c);
                    return b;
                }
            }
        }
        return count;
    }

    // Channel c's frame of block b, its header already checked.
    Frame gather(const std::uint8_t* const* lanes, std::uint32_t b, std::uint32_t c, std::uint32_t channels) const {
        std::uint8_t bytes[kFrameBytes];
        const std::uint8_t* start = frame_start(lanes, b, c, channels);
        if (layout().lane_per_channel) {
            std::memcpy(bytes, start, kFrameBytes);
        } else {
            // Interleaved channels share each frame's span in 2-byte pieces.
            for (std::uint32_t piece = 0; piece < kFrameBytes / 2; ++piece) {
                std::memcpy(bytes + 2 * piece, start + piece * channels * 2, 2);
            }
        }
        const unsigned pair = bytes[0] >> 4;
        return Frame{le64(bytes), (bytes[0] & 0x0F) + 11, coefficients_[c][2 * pair], coefficients_[c][2 * pair + 1]};
    }

    // Code n sits in byte 1 + n / 2, high nibble first.
    static std::int64_t code(std::uint64_t bits, std::uint32_t n) {
        const std::uint32_t low_bit = 8 * (1 + n / 2) + (n % 2 ? 0 : 4);
        return static_cast<std::int64_t>(bits << (60 - low_bit)) >> 60;
    }

    // Channels 1 or 2 known at compile time, so stereo runs both channels'
    // chains side by side; 0 for any count. The part of each prediction
    // that does not wait for the previous sample is added first.
    template <std::uint32_t Channels>
    std::uint32_t decode(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out, int& bad_channel,
                         std::string& problem) {
        const std::uint32_t channels = Channels ? Channels : layout().channels;
        constexpr std::uint32_t kMost = Channels ? Channels : 1;
        const std::size_t stride = std::size_t{channels} * 2;
        count = valid_blocks(lanes, count, channels, bad_channel, problem);
        for (std::uint32_t c0 = 0; c0 < channels; c0 += kMost) {
            std::int64_t h1[kMost], h2[kMost];
            for (std::uint32_t k = 0; k < kMost; ++k) {
                h1[k] = history_[c0 + k].h1;
                h2[k] = history_[c0 + k].h2;
            }
            for (std::uint32_t b = 0; b < count; ++b) {
                Frame f[kMost];
                for (std::uint32_t k = 0; k < kMost; ++k) f[k] = gather(lanes, b, c0 + k, channels);
                std::uint8_t* dst = out + std::size_t{b} * kFrameSamples * stride + 2 * c0;
#if defined(__GNUC__)
#pragma GCC unroll 14  // fixed code positions: each code is two shifts of a register
#endif
                for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
                    for (std::uint32_t k = 0; k < kMost; ++k) {
                        const std::int64_t early = (code(f[k].bits, n) << f[k].shift) + 1024 + f[k].c2 * h2[k];
                        const std::int64_t sample =
                            std::clamp<std::int64_t>((early + f[k].c1 * h1[k]) >> 11, -32768, 32767);
                        h2[k] = h1[k];
                        h1[k] = sample;
                        store16(dst + n * stride + 2 * k, static_cast<int>(sample));
                    }
                }
            }
            for (std::uint32_t k = 0; k < kMost; ++k) {
                history_[c0 + k].h1 = static_cast<int>(h1[k]);
                history_[c0 + k].h2 = static_cast<int>(h2[k]);
            }
        }
        return count;
    }

    std::vector<Coefficients> coefficients_;
    bool fits_32_bits_ = true;
};

}  // namespace

std::unique_ptr<FrameSource> make_gc_adpcm_source(const SubsoundInfo& info, BankFile& file, std::string& detail) {
    // Channel k's coefficients start 0x2E * k bytes into the set-up bytes;
    // the last channel's trailing 14 bytes are not needed.
    const std::uint64_t needed = std::uint64_t{kChannelSetupBytes} * (info.channels - 1) + kCoefficientBytes;
    if (info.setup.size < needed) {
        detail = "GC DSP ADPCM subsound of " + std::to_string(info.channels) + " channels needs " +
                 std::to_string(needed) + " bytes of coefficients, the header has " + std::to_string(info.setup.size);
        return nullptr;
    }
    std::vector<Coefficients> coefficients(info.channels);
    for (std::uint32_t c = 0; c < info.channels; ++c) {
        std::uint8_t raw[kCoefficientBytes];
        const std::uint64_t at = info.setup.offset + std::uint64_t{kChannelSetupBytes} * c;
        if (!file.read_exact(at, raw, sizeof raw)) {
            detail = "GC DSP ADPCM coefficients could not be read at byte " + std::to_string(at) + " of the bank";
            return nullptr;
        }
        for (std::uint32_t i = 0; i < 16; ++i) coefficients[c][i] = static_cast<std::int16_t>(be16(raw + 2 * i));
    }

    BlockLayout layout = shared_block_layout("GC DSP ADPCM", info.channels, kFrameSamples, kFrameBytes, true);
    if (!info.adpcm_interleaved && info.channels > 1) {
        layout.lane_per_channel = true;  // channel k's frames are the k-th equal part
        layout.block_bytes = kFrameBytes;
    }
    return std::make_unique<GcAdpcmSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames,
                                           std::move(coefficients));
}

}  // namespace soundlib
