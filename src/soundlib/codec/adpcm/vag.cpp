#include "soundlib/codec/adpcm/vag.h"

#include <algorithm>
#include <cstring>

#include "soundlib/codec/adpcm/adpcm_blocks.h"
#include "soundlib/codec/adpcm/stereo_predictor.h"
#include "soundlib/codec/adpcm/vag_layout.h"

namespace soundlib {

namespace {

using namespace adpcm;
using namespace vag;

class VagSource final : public BlockSource {
public:
    using BlockSource::BlockSource;

protected:
    std::uint32_t decode_blocks(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out,
                                int& bad_channel, std::string& problem) override {
#ifdef ADPCM_STEREO_VECTOR
        if (layout().channels == 2) return decode_stereo(lanes[0], count, out, bad_channel, problem);
#endif
        switch (layout().channels) {
            case 1: return decode<1>(lanes[0], count, out, bad_channel, problem);
            case 2: return decode<2>(lanes[0], count, out, bad_channel, problem);
            default: return decode<0>(lanes[0], count, out, bad_channel, problem);
        }
    }

private:
#ifdef ADPCM_STEREO_VECTOR
    // Stereo through the shared predictor: the scaled code comes in times
    // 64 (added inside the floor division by 64, it changes nothing).
    std::uint32_t decode_stereo(const std::uint8_t* data, std::uint32_t count, std::uint8_t* out, int& bad_channel,
                                std::string& problem) {
        StereoPredictor predictor(history_[0], history_[1]);
        std::uint32_t b = 0;
        for (; b < count; ++b) {
            const std::uint8_t* frame[2] = {data + std::size_t{b} * kFrameBytes * 2, data + std::size_t{b} * kFrameBytes * 2 + kFrameBytes};
            if ((frame[0][0] >> 4) > 4 || (frame[1][0] >> 4) > 4) break;  // the plain path says where
            // frame[1] holds loop and end marks, which do not change the samples.
            const int shift[2] = {frame[0][0] & 0x0F, frame[1][0] & 0x0F};
            const __m128i weights = StereoPredictor::weights(kFilters[frame[0][0] >> 4][0], kFilters[frame[0][0] >> 4][1],
                                                             kFilters[frame[1][0] >> 4][0], kFilters[frame[1][0] >> 4][1]);
            std::uint8_t* dst = out + std::size_t{b} * kFrameSamples * 4;
            for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
                int scaled[2];
                for (std::uint32_t c = 0; c < 2; ++c) {
                    const std::uint8_t packed = frame[c][2 + n / 2];
                    const int code = (n & 1) ? high_nibble(packed) : low_nibble(packed);
                    // code << 12 then an arithmetic shift right: floor division.
                    scaled[c] = ((code * 4096) >> shift[c]) * 64;
                }
                const std::int32_t frame_out = predictor.step<6>(weights, scaled[0], scaled[1]);
                std::memcpy(dst + 4 * n, &frame_out, 4);
            }
        }
        predictor.save(history_[0], history_[1]);
        if (b == count) return count;
        return b + decode<2>(data + std::size_t{b} * kFrameBytes * 2, count - b, out + std::size_t{b} * kFrameSamples * 4,
                             bad_channel, problem);
    }
#endif

    // Channels 1 or 2 known at compile time, so stereo runs both channels'
    // chains side by side; 0 for any count. Each channel's 16-byte frame
    // follows the one before.
    template <std::uint32_t Channels>
    std::uint32_t decode(const std::uint8_t* data, std::uint32_t count, std::uint8_t* out, int& bad_channel,
                         std::string& problem) {
        const std::uint32_t channels = Channels ? Channels : layout().channels;
        constexpr std::uint32_t kMost = Channels ? Channels : 1;
        const std::size_t stride = std::size_t{channels} * 2;
        for (std::uint32_t b = 0; b < count; ++b) {
            const std::uint8_t* block = data + std::size_t{b} * kFrameBytes * channels;
            std::uint8_t* dst = out + std::size_t{b} * kFrameSamples * stride;
            for (std::uint32_t c0 = 0; c0 < channels; c0 += kMost) {
                const std::uint8_t* frame[kMost];
                int shift[kMost], f0[kMost], f1[kMost];
                History h[kMost];
                for (std::uint32_t k = 0; k < kMost; ++k) {
                    frame[k] = block + kFrameBytes * (c0 + k);
                    const unsigned filter = frame[k][0] >> 4;
                    if (filter > 4) {
                        problem = "prediction filter " + std::to_string(filter) + " does not exist (0 to 4)";
                        bad_channel = static_cast<int>(c0 + k);
                        return b;
                    }
                    // frame[1] holds loop and end marks, which do not change the samples.
                    shift[k] = frame[k][0] & 0x0F;
                    f0[k] = kFilters[filter][0];
                    f1[k] = kFilters[filter][1];
                    h[k] = history_[c0 + k];
                }
                for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
                    for (std::uint32_t k = 0; k < kMost; ++k) {
                        const std::uint8_t packed = frame[k][2 + n / 2];
                        const int code = (n & 1) ? high_nibble(packed) : low_nibble(packed);
                        // code << 12 then an arithmetic shift right: floor division.
                        const int scaled = (code * 4096) >> shift[k];
                        const int sample = std::clamp(scaled + ((f0[k] * h[k].h1 + f1[k] * h[k].h2) >> 6), -32768, 32767);
                        h[k].h2 = h[k].h1;
                        h[k].h1 = sample;
                        store16(dst + n * stride + 2 * (c0 + k), sample);
                    }
                }
                for (std::uint32_t k = 0; k < kMost; ++k) history_[c0 + k] = h[k];
            }
        }
        return count;
    }
};

}  // namespace

std::unique_ptr<FrameSource> make_vag_source(const SubsoundInfo& info, BankFile& file) {
    const BlockLayout layout = shared_block_layout("PS ADPCM", info.channels, kFrameSamples, kFrameBytes, true);
    return std::make_unique<VagSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames);
}

}  // namespace soundlib
