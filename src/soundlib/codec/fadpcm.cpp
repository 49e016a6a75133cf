#include "soundlib/codec/fadpcm.h"

#include "soundlib/codec/adpcm_blocks.h"
#include "soundlib/io/bytes.h"

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
    int decode_block(const std::uint8_t* const* lanes, std::uint8_t* out, std::string& problem) override {
        const std::uint32_t channels = layout().channels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::uint8_t* frame = lanes[0] + kFrameBytes * c;
            const std::uint32_t indices = le32(frame);
            const std::uint32_t shifts = le32(frame + 4);
            History h;
            h.h1 = static_cast<std::int16_t>(le16(frame + 8));
            h.h2 = static_cast<std::int16_t>(le16(frame + 10));
            for (std::uint32_t g = 0; g < kGroups; ++g) {
                const unsigned index = (indices >> (4 * g)) & 0x0F;
                const unsigned shift = (shifts >> (4 * g)) & 0x0F;
                if (index > 4) {
                    problem = "coefficient index " + std::to_string(index) + " of group " + std::to_string(g) +
                              " is unknown (0 to 4)";
                    return static_cast<int>(c);
                }
                const int c1 = kCoefficients[index][0];
                const int c2 = kCoefficients[index][1];
                const std::uint8_t* codes = frame + 12 + 16 * g;
                for (std::uint32_t word = 0; word < 4; ++word) {
                    const std::uint32_t packed = le32(codes + 4 * word);
                    for (std::uint32_t k = 0; k < 8; ++k) {
                        const int code = signed_nibble(packed >> (4 * k));
                        const std::int64_t scaled = static_cast<std::int64_t>(code) * (std::int64_t{1} << (shift + 6));
                        const int sample = clamp16((scaled + c1 * h.h1 - c2 * h.h2) >> 6);
                        h.push(sample);
                        const std::uint32_t n = 32 * g + 8 * word + k;
                        put_sample(out, std::size_t{n} * channels + c, sample);
                    }
                }
            }
        }
        return -1;
    }
};

}  // namespace

std::unique_ptr<FrameSource> make_fadpcm_source(const SubsoundInfo& info, BankFile& file) {
    // Each frame carries its own history, so any frame is a starting point.
    const BlockLayout layout = shared_block_layout("FADPCM", info.channels, kFrameSamples, kFrameBytes, false);
    return std::make_unique<FadpcmSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames);
}

}  // namespace soundlib
