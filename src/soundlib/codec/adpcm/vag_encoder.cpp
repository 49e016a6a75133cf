#include "soundlib/codec/adpcm/vag_encoder.h"

#include "soundlib/codec/adpcm/predictor_search.h"
#include "soundlib/codec/adpcm/vag_layout.h"

namespace soundlib {

namespace {

using namespace adpcm;
using namespace vag;

class VagEncoder final : public BlockEncoder {
public:
    explicit VagEncoder(const EncodeTarget& target)
        : BlockEncoder(target, kFrameSamples, kFrameBytes, false), history_(target.channels) {}

protected:
    void encode_block(const std::int16_t* pcm, std::uint32_t first, std::uint32_t count,
                      std::vector<std::uint8_t>& out) override {
        (void)first;
        for (std::uint32_t c = 0; c < count; ++c) {
            const std::int16_t* samples = pcm + std::size_t{c} * kFrameSamples;
            auto& [h1, h2] = history_[c];
            Trial best;
            // A shift of s gives codes a step of 2^(12 - s).
            const Choice choice = choose_run(
                samples, kFrameSamples, 5,
                [](int k, int a, int b) { return (kFilters[k][0] * a + kFilters[k][1] * b) >> 6; }, h1, h2, best);
            const int best_filter = choice.predictor, best_shift = kMaxExponent - choice.exponent;
            h1 = best.h1;
            h2 = best.h2;
            const std::size_t at = out.size();
            out.resize(at + kFrameBytes, 0);
            std::uint8_t* frame = out.data() + at;
            frame[0] = static_cast<std::uint8_t>(best_filter << 4 | best_shift);
            // frame[1], the loop and end marks, stays 0 as in the banks we have seen.
            for (std::uint32_t n = 0; n < kFrameSamples; n += 2) {
                frame[2 + n / 2] = static_cast<std::uint8_t>((best.codes[n] & 0x0F) | (best.codes[n + 1] & 0x0F) << 4);
            }
        }
    }

private:
    std::vector<std::pair<int, int>> history_;  // per channel: the last two decoded samples
};

}  // namespace

std::unique_ptr<SoundEncoder> make_vag_encoder(const EncodeTarget& target) {
    return std::make_unique<VagEncoder>(target);
}

}  // namespace soundlib
