#include "soundlib/codec/adpcm/fadpcm_encoder.h"

#include "soundlib/codec/adpcm/predictor_search.h"

namespace soundlib {

namespace {

using namespace adpcm;

constexpr std::uint32_t kFrameBytes = 140;
constexpr std::uint32_t kFrameSamples = 256;
constexpr std::uint32_t kGroups = 8;
constexpr std::uint32_t kGroupSamples = 32;
// In 64ths; the second weighs the sample before last, subtracted.
constexpr int kCoefficients[5][2] = {{0, 0}, {60, 0}, {122, 60}, {115, 52}, {98, 55}};

class FadpcmEncoder final : public BlockEncoder {
public:
    explicit FadpcmEncoder(const EncodeTarget& target)
        : BlockEncoder(target, kFrameSamples, kFrameBytes, false), before_(target.channels) {}

protected:
    void encode_block(const std::int16_t* pcm, std::uint32_t first, std::uint32_t count,
                      std::vector<std::uint8_t>& out) override {
        (void)first;
        for (std::uint32_t c = 0; c < count; ++c) {
            const std::int16_t* samples = pcm + std::size_t{c} * kFrameSamples;
            const std::size_t at = out.size();
            out.resize(at + kFrameBytes, 0);
            std::uint8_t* frame = out.data() + at;
            // The frame's history: the input's two samples before it.
            auto& [before1, before2] = before_[c];
            int h1 = before1, h2 = before2;
            put16(frame + 8, h1);
            put16(frame + 10, h2);
            std::uint32_t indices = 0, shifts = 0;
            for (std::uint32_t g = 0; g < kGroups; ++g) {
                const std::int16_t* group = samples + g * kGroupSamples;
                Trial best;
                const Choice choice = choose_run(
                    group, kGroupSamples, 5,
                    [](int k, int a, int b) { return (kCoefficients[k][0] * a - kCoefficients[k][1] * b) >> 6; }, h1,
                    h2, best);
                const int best_index = choice.predictor, best_shift = choice.exponent;
                indices |= static_cast<std::uint32_t>(best_index) << (4 * g);
                shifts |= static_cast<std::uint32_t>(best_shift) << (4 * g);
                h1 = best.h1;
                h2 = best.h2;
                for (std::uint32_t word = 0; word < 4; ++word) {
                    std::uint32_t packed = 0;
                    for (std::uint32_t i = 0; i < 8; ++i) {
                        packed |= static_cast<std::uint32_t>(best.codes[8 * word + i] & 0x0F) << (4 * i);
                    }
                    put32(frame + 12 + 16 * g + 4 * word, packed);
                }
            }
            put32(frame, indices);
            put32(frame + 4, shifts);
            before1 = samples[kFrameSamples - 1];
            before2 = samples[kFrameSamples - 2];
        }
    }

private:
    static void put16(std::uint8_t* p, int v) {
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(static_cast<unsigned>(v) >> 8);
    }
    static void put32(std::uint8_t* p, std::uint32_t v) {
        for (int k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(v >> (8 * k));
    }

    std::vector<std::pair<int, int>> before_;  // per channel: the input's last two samples so far
};

}  // namespace

std::unique_ptr<SoundEncoder> make_fadpcm_encoder(const EncodeTarget& target) {
    return std::make_unique<FadpcmEncoder>(target);
}

}  // namespace soundlib
