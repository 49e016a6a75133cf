#include "soundlib/codec/adpcm/vag_encoder.h"

#include <algorithm>
#include <cstdlib>

#include "soundlib/codec/adpcm/vag_layout.h"
#include "soundlib/codec/block_encoder.h"

namespace soundlib {

namespace {

using namespace adpcm;
using namespace vag;
constexpr int kMaxShift = 12;

struct Trial {
    int codes[kFrameSamples];
    long long error = 0;
    int h1 = 0, h2 = 0;
};

// The frame with one filter and shift, from the decoded history: each code
// the nearest, as the decoder will rebuild it.
void encode_frame(const std::int16_t* pcm, int filter, int shift, int h1, int h2, Trial& t) {
    const int f0 = kFilters[filter][0], f1 = kFilters[filter][1];
    t.error = 0;
    for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
        const int predicted = (f0 * h1 + f1 * h2) >> 6;
        int code = nearest_code(pcm[n] - predicted, 1 << (12 - shift));
        int sample = clamp16(((code * 4096) >> shift) + predicted);
        // Where the clamp cut the nearest code short, the one below may be nearer.
        if (code > -8) {
            const int lower = clamp16((((code - 1) * 4096) >> shift) + predicted);
            if (std::abs(lower - pcm[n]) < std::abs(sample - pcm[n])) {
                --code;
                sample = lower;
            }
        }
        t.codes[n] = code;
        t.error += static_cast<long long>(sample - pcm[n]) * (sample - pcm[n]);
        h2 = h1;
        h1 = sample;
    }
    t.h1 = h1;
    t.h2 = h2;
}

// The smallest shift's step that the frame's largest residual fits in eight of.
int shift_for(int largest) {
    int shift = kMaxShift;
    while (shift > 0 && (7 << (12 - shift)) < largest) --shift;
    return shift;
}

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
            Trial best, trial;
            int best_filter = 0, best_shift = 0;
            bool any = false;
            for (int filter = 0; filter < 5; ++filter) {
                // The residual with the input's own history picks the shift to start from.
                int largest = 0, p1 = h1, p2 = h2;
                for (std::uint32_t n = 0; n < kFrameSamples; ++n) {
                    largest = std::max(largest, std::abs(samples[n] - ((kFilters[filter][0] * p1 + kFilters[filter][1] * p2) >> 6)));
                    p2 = p1;
                    p1 = samples[n];
                }
                const int centre = shift_for(largest);
                for (int shift = std::max(0, centre - 1); shift <= std::min(kMaxShift, centre + 1); ++shift) {
                    encode_frame(samples, filter, shift, h1, h2, trial);
                    if (!any || trial.error < best.error) {
                        best = trial;
                        best_filter = filter;
                        best_shift = shift;
                        any = true;
                    }
                }
            }
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
