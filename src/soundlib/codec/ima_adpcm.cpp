#include "soundlib/codec/ima_adpcm.h"

#include <algorithm>

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

// For each step index and 4-bit code: the signed difference the code adds,
// and the next step index. One load each per sample instead of a sum over
// the code's bits and two clamps.
struct Tables {
    std::int32_t diff[(kMaxStepIndex + 1) * 16];
    std::uint8_t next[(kMaxStepIndex + 1) * 16];
};

constexpr Tables make_tables() {
    Tables t{};
    for (int index = 0; index <= kMaxStepIndex; ++index) {
        const int step = kSteps[index];
        for (int code = 0; code < 16; ++code) {
            int diff = step >> 3;
            if (code & 4) diff += step;
            if (code & 2) diff += step >> 1;
            if (code & 1) diff += step >> 2;
            const int next = index + kIndexChange[code & 7];
            t.diff[index * 16 + code] = (code & 8) ? -diff : diff;
            t.next[index * 16 + code] = static_cast<std::uint8_t>(next < 0 ? 0 : next > kMaxStepIndex ? kMaxStepIndex : next);
        }
    }
    return t;
}

constexpr Tables kTables = make_tables();

struct Channel {
    int predictor;
    int index;  // times 16: the row of the tables

    int step(unsigned code) {
        const unsigned k = static_cast<unsigned>(index) + code;
        predictor = std::clamp(predictor + kTables.diff[k], -32768, 32767);
        index = kTables.next[k] * 16;
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
        for (std::uint32_t b = 0; b < count; ++b) {
            const std::uint8_t* block = lanes[0] + std::size_t{b} * block_bytes;
            std::uint8_t* dst = out + std::size_t{b} * kBlockFrames * channels * 2;
            bool ok;
            switch (channels) {
                case 1: ok = decode_narrow<1>(block, dst, bad_channel, problem); break;
                case 2: ok = decode_narrow<2>(block, dst, bad_channel, problem); break;
                default: ok = decode_wide(block, channels, dst, bad_channel, problem); break;
            }
            if (!ok) return b;
        }
        return count;
    }

private:
    static bool start(const std::uint8_t* sample, std::uint8_t step_byte, std::uint32_t c, Channel& ch,
                      int& bad_channel, std::string& problem) {
        if (step_byte > kMaxStepIndex) {
            problem = "step index " + std::to_string(step_byte) + " is beyond " + std::to_string(kMaxStepIndex);
            bad_channel = static_cast<int>(c);
            return false;
        }
        ch.predictor = static_cast<std::int16_t>(le16(sample));
        ch.index = step_byte * 16;
        return true;
    }

    // Mono and stereo: each channel has a 4-byte header (sample, step
    // index, reserved), then the channels take turns with 4-byte runs of
    // codes, low nibble first.
    template <std::uint32_t Channels>
    static bool decode_narrow(const std::uint8_t* block, std::uint8_t* out, int& bad_channel, std::string& problem) {
        Channel ch[Channels];
        for (std::uint32_t c = 0; c < Channels; ++c) {
            if (!start(block + 4 * c, block[4 * c + 2], c, ch[c], bad_channel, problem)) return false;
            store16(out + 2 * c, ch[c].predictor);
        }
        const std::uint8_t* codes = block + 4 * Channels;
        std::uint8_t* dst = out + 2 * Channels;
        for (std::uint32_t run = 0; run < 8; ++run) {
            for (std::uint32_t i = 0; i < 4; ++i) {
                const bool last = run == 7 && i == 3;  // its high nibble is the unused 64th code
                for (std::uint32_t c = 0; c < Channels; ++c) {
                    const std::uint8_t byte = codes[(run * Channels + c) * 4 + i];
                    store16(dst + 2 * c, ch[c].step(byte & 0x0F));
                    if (!last) store16(dst + 2 * (Channels + c), ch[c].step(byte >> 4));
                }
                dst += 4 * Channels;
            }
        }
        return true;
    }

    // More channels: all first samples, then all step bytes, then the
    // channels take turns with 2-byte runs of codes.
    static bool decode_wide(const std::uint8_t* block, std::uint32_t channels, std::uint8_t* out, int& bad_channel,
                            std::string& problem) {
        const std::uint8_t* codes = block + 4 * channels;
        const std::size_t stride = std::size_t{channels} * 2;  // bytes per output frame
        for (std::uint32_t c = 0; c < channels; ++c) {
            Channel ch;
            if (!start(block + 2 * c, block[2 * channels + 2 * c], c, ch, bad_channel, problem)) return false;
            std::uint8_t* dst = out + 2 * c;
            store16(dst, ch.predictor);
            for (std::uint32_t byte = 0; byte < 32; ++byte) {
                const std::uint8_t packed = codes[(byte / 2) * 2 * channels + c * 2 + byte % 2];
                store16(dst + (2 * byte + 1) * stride, ch.step(packed & 0x0F));
                if (byte != 31) store16(dst + (2 * byte + 2) * stride, ch.step(packed >> 4));
            }
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<FrameSource> make_ima_adpcm_source(const SubsoundInfo& info, BankFile& file) {
    const BlockLayout layout =
        shared_block_layout("IMA ADPCM", info.channels, kBlockFrames, kChannelBlockBytes, false);
    return std::make_unique<ImaAdpcmSource>(layout, DataRange{&file, info.data.offset, info.data.size}, info.frames);
}

}  // namespace soundlib
