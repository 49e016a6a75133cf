#include "soundlib/codec/fadpcm.h"

#include <algorithm>

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
    std::uint32_t decode_blocks(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out,
                                int& bad_channel, std::string& problem) override {
        switch (layout().channels) {
            case 1: return decode<1>(lanes[0], count, out, bad_channel, problem);
            case 2: return decode<2>(lanes[0], count, out, bad_channel, problem);
            default: return decode<0>(lanes[0], count, out, bad_channel, problem);
        }
    }

private:
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
