#include "soundlib/codec/vag.h"

#include "soundlib/codec/adpcm_blocks.h"

namespace soundlib {

namespace {

using namespace adpcm;

constexpr std::uint32_t kFrameBytes = 16;
constexpr std::uint32_t kFrameSamples = 28;
// Prediction filters, in 64ths: weights of the previous and the one before.
constexpr int kFilters[5][2] = {{0, 0}, {60, 0}, {115, -52}, {98, -55}, {122, -60}};

class VagSource final : public BlockSource {
public:
    using BlockSource::BlockSource;

protected:
    int decode_block(const std::uint8_t* const* lanes, std::uint8_t* out, std::string& problem) override {
        const std::uint32_t channels = layout().channels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::uint8_t* frame = lanes[0] + kFrameBytes * c;
            const unsigned filter = frame[0] >> 4;
            const unsigned shift = frame[0] & 0x0F;
            if (filter > 4) {
                problem = "prediction filter " + std::to_string(filter) + " does not exist (0 to 4)";
                return static_cast<int>(c);
            }
            // frame[1] holds loop and end marks, which do not change the samples.
            const int f0 = kFilters[filter][0];
            const int f1 = kFilters[filter][1];
            History& h = history_[c];
            for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
                const std::uint8_t packed = frame[2 + n / 2];
                const int code = signed_nibble((n & 1) ? packed >> 4 : packed);
                // code << 12 then an arithmetic shift right: floor division.
                const int scaled = (code * 4096) >> shift;
                const int sample = clamp16(scaled + ((f0 * h.h1 + f1 * h.h2) >> 6));
                h.push(sample);
                put_sample(out, std::size_t{n} * channels + c, sample);
            }
        }
        return -1;
    }
};

}  // namespace

std::unique_ptr<FrameSource> make_vag_source(const SubsoundInfo& info, BankFile& file) {
    const BlockLayout layout = shared_block_layout("PS ADPCM", info.channels, kFrameSamples, kFrameBytes, true);
    return std::make_unique<VagSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames);
}

}  // namespace soundlib
