#include "soundlib/codec/gc_adpcm.h"

#include <array>
#include <utility>
#include <vector>

#include "soundlib/codec/adpcm_blocks.h"
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
        : BlockSource(layout, data, total_frames), coefficients_(std::move(coefficients)) {}

protected:
    int decode_block(const std::uint8_t* const* lanes, std::uint8_t* out, std::string& problem) override {
        const std::uint32_t channels = layout().channels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            // Interleaved channels share each frame's span in 2-byte pieces.
            std::uint8_t frame[kFrameBytes];
            if (layout().lane_per_channel) {
                for (std::uint32_t i = 0; i < kFrameBytes; ++i) frame[i] = lanes[c][i];
            } else {
                for (std::uint32_t piece = 0; piece < kFrameBytes / 2; ++piece) {
                    frame[2 * piece] = lanes[0][(piece * channels + c) * 2];
                    frame[2 * piece + 1] = lanes[0][(piece * channels + c) * 2 + 1];
                }
            }
            const unsigned pair = frame[0] >> 4;
            const unsigned exponent = frame[0] & 0x0F;
            if (pair > 7) {
                problem = "coefficient pair " + std::to_string(pair) + " does not exist (0 to 7)";
                return static_cast<int>(c);
            }
            const int c1 = coefficients_[c][2 * pair];
            const int c2 = coefficients_[c][2 * pair + 1];
            History& h = history_[c];
            for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
                const std::uint8_t packed = frame[1 + n / 2];
                const int code = signed_nibble((n & 1) ? packed : packed >> 4);
                const std::int64_t scaled = static_cast<std::int64_t>(code) * (std::int64_t{1} << exponent) * 2048;
                const int sample = clamp16((scaled + 1024 + std::int64_t{c1} * h.h1 + std::int64_t{c2} * h.h2) >> 11);
                h.push(sample);
                put_sample(out, std::size_t{n} * channels + c, sample);
            }
        }
        return -1;
    }

private:
    std::vector<Coefficients> coefficients_;
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
