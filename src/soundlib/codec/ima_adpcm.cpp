#include "soundlib/codec/ima_adpcm.h"

#include "soundlib/codec/adpcm_blocks.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

using namespace adpcm;

constexpr int kSteps[89] = {7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
                            25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
                            88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
                            307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
                            1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
                            3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
                            12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kMaxStepIndex = 88;

constexpr std::uint32_t kChannelBlockBytes = 36;
constexpr std::uint32_t kBlockFrames = 64;  // the header sample and 63 of the 64 codes

class ImaAdpcmSource final : public BlockSource {
public:
    using BlockSource::BlockSource;

protected:
    int decode_block(const std::uint8_t* const* lanes, std::uint8_t* out, std::string& problem) override {
        const std::uint8_t* block = lanes[0];
        const std::uint32_t channels = layout().channels;
        // Mono and stereo give each channel a 4-byte header and 4-byte runs
        // of codes; more channels put all first samples, then all step
        // bytes, then 2-byte runs of codes.
        const bool wide = channels > 2;
        const std::uint32_t run = wide ? 2 : 4;
        const std::uint8_t* codes = block + 4 * channels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::uint8_t* sample_at = wide ? block + 2 * c : block + 4 * c;
            const std::uint8_t step_byte = wide ? block[2 * channels + 2 * c] : block[4 * c + 2];
            if (step_byte > kMaxStepIndex) {
                problem = "step index " + std::to_string(step_byte) + " is beyond " + std::to_string(kMaxStepIndex);
                return static_cast<int>(c);
            }
            int predictor = static_cast<std::int16_t>(le16(sample_at));
            int index = step_byte;
            put_sample(out, c, predictor);
            for (std::uint32_t n = 0; n + 1 < kBlockFrames; ++n) {
                const std::uint32_t byte = n / 2;
                const std::uint8_t packed = codes[(byte / run) * run * channels + c * run + byte % run];
                const unsigned code = (n & 1) ? packed >> 4 : packed & 0x0F;
                const int step = kSteps[index];
                int diff = step >> 3;
                if (code & 4) diff += step;
                if (code & 2) diff += step >> 1;
                if (code & 1) diff += step >> 2;
                predictor = clamp16((code & 8) ? predictor - diff : predictor + diff);
                index += kIndexChange[code & 7];
                index = index < 0 ? 0 : index > kMaxStepIndex ? kMaxStepIndex : index;
                put_sample(out, std::size_t{n + 1} * channels + c, predictor);
            }
        }
        return -1;
    }
};

}  // namespace

std::unique_ptr<FrameSource> make_ima_adpcm_source(const SubsoundInfo& info, BankFile& file) {
    const BlockLayout layout =
        shared_block_layout("IMA ADPCM", info.channels, kBlockFrames, kChannelBlockBytes, false);
    return std::make_unique<ImaAdpcmSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames);
}

}  // namespace soundlib
