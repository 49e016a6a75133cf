#include "soundlib/codec/adpcm/ima_adpcm_encoder.h"

#include <algorithm>
#include <cstdlib>

#include "soundlib/codec/adpcm/ima_layout.h"
#include "soundlib/codec/block_encoder.h"

namespace soundlib {

namespace {

using namespace adpcm;
using namespace ima;
constexpr std::uint32_t kCodes = kBlockFrames - 1;  // the 64th code is never heard
// Start indices tried around the one carried over from the block before.
constexpr int kIndexWindow = 2;

// What code `magnitude` (0..7) adds at a step, as the decoder sums it.
int difference(int step, int magnitude) {
    int diff = step >> 3;
    if (magnitude & 4) diff += step;
    if (magnitude & 2) diff += step >> 1;
    if (magnitude & 1) diff += step >> 2;
    return diff;
}

struct Encoded {
    std::uint8_t codes[kCodes];
    long long error = 0;
    int end_index = 0;
};

// One channel's block from a start index, each code the nearest of the
// magnitudes around the usual quantiser's pick.
void encode_run(const std::int16_t* pcm, int index, Encoded& e) {
    int predictor = pcm[0];
    e.error = 0;
    for (std::uint32_t n = 0; n < kCodes; ++n) {
        const int step = kSteps[index];
        const int target = pcm[n + 1];
        const int delta = target - predictor;
        const int sign = delta < 0 ? 8 : 0;
        const int magnitude = std::min(7, std::abs(delta) * 4 / step);
        int best_code = 0, best_value = 0;
        long long best = -1;
        for (int m = std::max(0, magnitude - 1); m <= std::min(7, magnitude + 1); ++m) {
            const int diff = difference(step, m);
            const int value = clamp16(sign ? predictor - diff : predictor + diff);
            const long long err = static_cast<long long>(value - target) * (value - target);
            if (best < 0 || err < best) {
                best = err;
                best_code = sign | m;
                best_value = value;
            }
        }
        e.codes[n] = static_cast<std::uint8_t>(best_code);
        e.error += best;
        predictor = best_value;
        index = std::clamp(index + kIndexChange[best_code & 7], 0, kMaxStepIndex);
    }
    e.end_index = index;
}

class ImaAdpcmEncoder final : public BlockEncoder {
public:
    explicit ImaAdpcmEncoder(const EncodeTarget& target)
        : BlockEncoder(target, kBlockFrames, kChannelBlockBytes, false), index_(target.channels, -1) {}

protected:
    void encode_block(const std::int16_t* pcm, std::uint32_t first, std::uint32_t count,
                      std::vector<std::uint8_t>& out) override {
        (void)first;
        const std::size_t at = out.size();
        out.resize(at + std::size_t{kChannelBlockBytes} * count, 0);
        std::uint8_t* block = out.data() + at;
        const bool wide = count > 2;
        for (std::uint32_t c = 0; c < count; ++c) {
            const std::int16_t* samples = pcm + std::size_t{c} * kBlockFrames;
            // The first block tries every start; later ones a few around the carried index.
            const int from = index_[c] < 0 ? 0 : std::max(0, index_[c] - kIndexWindow);
            const int to = index_[c] < 0 ? kMaxStepIndex : std::min(kMaxStepIndex, index_[c] + kIndexWindow);
            Encoded best, trial;
            int best_start = from;
            for (int start = from; start <= to; ++start) {
                encode_run(samples, start, trial);
                if (start == from || trial.error < best.error) {
                    best = trial;
                    best_start = start;
                }
            }
            index_[c] = best.end_index;
            const auto first_sample = static_cast<std::uint16_t>(samples[0]);
            std::uint8_t* header = wide ? block + 2 * c : block + 4 * c;
            header[0] = static_cast<std::uint8_t>(first_sample);
            header[1] = static_cast<std::uint8_t>(first_sample >> 8);
            (wide ? block + 2 * count + 2 * c : block + 4 * c + 2)[0] = static_cast<std::uint8_t>(best_start);
            std::uint8_t* codes = block + 4 * count;
            for (std::uint32_t byte = 0; byte < 32; ++byte) {
                const std::uint8_t low = best.codes[2 * byte];
                const std::uint8_t high = 2 * byte + 1 < kCodes ? best.codes[2 * byte + 1] : 0;
                // Mono and stereo: 4-byte runs per channel in turn; more: 2-byte runs.
                const std::size_t where = wide ? (byte / 2) * 2 * count + 2 * c + byte % 2
                                               : (byte / 4 * count + c) * 4 + byte % 4;
                codes[where] = static_cast<std::uint8_t>(low | high << 4);
            }
        }
    }

private:
    std::vector<int> index_;  // per channel: the step index the last block ended on; -1 before the first
};

}  // namespace

std::unique_ptr<SoundEncoder> make_ima_adpcm_encoder(const EncodeTarget& target) {
    return std::make_unique<ImaAdpcmEncoder>(target);
}

}  // namespace soundlib
