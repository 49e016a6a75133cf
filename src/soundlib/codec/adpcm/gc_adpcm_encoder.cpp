#include "soundlib/codec/adpcm/gc_adpcm_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "soundlib/codec/adpcm/predictor_search.h"

namespace soundlib {

namespace {

using namespace adpcm;

constexpr std::uint32_t kFrameBytes = 8;
constexpr std::uint32_t kFrameSamples = 14;
constexpr std::uint32_t kSetupBytes = 0x2E;  // per channel: 16 coefficients, gain, predictor and history
constexpr int kPairs = 8;
// Frames are binned by the pair that suits them best, c1 in [-2, 2) and c2
// in [-1, 1): a fixed amount of memory however long the sound, and bins of
// alike frames for the clustering to move as one.
constexpr int kBinsPerAxis = 32;
constexpr double kLimit = 4.0;  // no coefficient beyond this: the stored ones are 2048ths in 16 bits

using Pair = std::array<double, 2>;

// The sums that give the squared error of predicting x[n] by c1 x[n-1] + c2 x[n-2].
struct Stats {
    double r11 = 0, r12 = 0, r22 = 0, p1 = 0, p2 = 0, e = 0;
    void add(double y, double a, double b) {
        r11 += a * a;
        r12 += a * b;
        r22 += b * b;
        p1 += a * y;
        p2 += b * y;
        e += y * y;
    }
    void add(const Stats& s) {
        r11 += s.r11;
        r12 += s.r12;
        r22 += s.r22;
        p1 += s.p1;
        p2 += s.p2;
        e += s.e;
    }
    double error(const Pair& c) const {
        return e - 2 * (c[0] * p1 + c[1] * p2) + c[0] * c[0] * r11 + 2 * c[0] * c[1] * r12 + c[1] * c[1] * r22;
    }
    // The pair of least error, first order when the second adds nothing.
    Pair solve() const {
        Pair c{0, 0};
        const double det = r11 * r22 - r12 * r12;
        if (det > 1e-9 * r11 * r22 && det > 0) {
            c = {(p1 * r22 - p2 * r12) / det, (p2 * r11 - p1 * r12) / det};
        } else if (r11 > 0) {
            c = {p1 / r11, 0};
        }
        for (double& v : c) v = std::clamp(v, -kLimit, kLimit);
        return c;
    }
};

// Eight pairs for the binned frames: split and refine (Lloyd) from the one
// pair of the whole sound, each bin going to the pair that predicts it best.
std::array<Pair, kPairs> fit(const std::vector<Stats>& bins) {
    std::vector<const Stats*> used;
    Stats all;
    for (const Stats& b : bins) {
        if (b.e > 0 || b.r11 > 0) {
            used.push_back(&b);
            all.add(b);
        }
    }
    std::vector<Pair> pairs{all.solve()};
    while (pairs.size() < kPairs) {
        const std::size_t n = pairs.size();
        for (std::size_t k = 0; k < n; ++k) {
            const Pair c = pairs[k];
            pairs[k] = {c[0] * 1.02 + 0.01, c[1] * 1.02 + 0.01};
            pairs.push_back({c[0] * 0.98 - 0.01, c[1] * 0.98 - 0.01});
        }
        for (int round = 0; round < 12; ++round) {
            std::vector<Stats> sums(pairs.size());
            std::size_t worst = 0;  // the bin predicted worst, to take over a pair no bin wants
            double worst_error = -1;
            for (std::size_t b = 0; b < used.size(); ++b) {
                std::size_t best = 0;
                double least = used[b]->error(pairs[0]);
                for (std::size_t k = 1; k < pairs.size(); ++k) {
                    const double err = used[b]->error(pairs[k]);
                    if (err < least) {
                        least = err;
                        best = k;
                    }
                }
                sums[best].add(*used[b]);
                if (least > worst_error) {
                    worst_error = least;
                    worst = b;
                }
            }
            for (std::size_t k = 0; k < pairs.size(); ++k) {
                if (sums[k].r11 > 0) {
                    pairs[k] = sums[k].solve();
                } else if (!used.empty()) {
                    pairs[k] = used[worst]->solve();
                }
            }
        }
    }
    std::array<Pair, kPairs> out{};
    std::copy(pairs.begin(), pairs.end(), out.begin());
    return out;
}

class GcAdpcmEncoder final : public BlockEncoder {
public:
    explicit GcAdpcmEncoder(const EncodeTarget& target)
        : BlockEncoder(target, kFrameSamples, kFrameBytes, !target.adpcm_interleaved && target.channels > 1),
          channels_(target.channels) {}

    bool surveys() const override { return true; }
    // With a loop, a second pass finds the decoder's state at its start.
    std::uint32_t survey_passes() const override { return loops_ ? 2 : 1; }
    void loop_from(std::uint64_t frame) override {
        loops_ = true;
        loop_start_ = frame;
    }

    void survey(const double* samples, std::uint32_t frames) override {
        for (std::uint32_t f = 0; f < frames; ++f) {
            for (std::uint32_t c = 0; c < channels_.size(); ++c) {
                Channel& ch = channels_[c];
                const std::int16_t x = to_s16(samples[std::size_t{f} * channels_.size() + c]);
                if (survey_pass_ == 1) {
                    ch.run[ch.run_filled++] = x;
                    if (ch.run_filled == kFrameSamples) ch.loop_frame(loop_start_);
                    continue;
                }
                if (ch.seen < kFrameSamples) ch.first[ch.seen] = x;
                ch.frame.add(x, ch.x1, ch.x2);
                ch.x2 = ch.x1;
                ch.x1 = x;
                if (++ch.seen % kFrameSamples == 0) ch.bin_frame();
            }
        }
    }

    void end_survey() override {
        if (survey_pass_++ == 1) {
            // The last frame, filled out as the encoding fills it.
            for (Channel& ch : channels_) {
                if (ch.run_filled == 0) continue;
                std::fill(ch.run + ch.run_filled, ch.run + kFrameSamples, ch.run[ch.run_filled - 1]);
                ch.loop_frame(loop_start_);
            }
            return;
        }
        for (Channel& ch : channels_) {
            if (ch.seen % kFrameSamples != 0) ch.bin_frame();
            const std::array<Pair, kPairs> pairs = fit(ch.bins);
            for (int k = 0; k < kPairs; ++k) {
                for (int j = 0; j < 2; ++j) {
                    ch.coefficients[2 * k + j] =
                        static_cast<int>(std::clamp(std::lround(pairs[k][j] * 2048), -32768L, 32767L));
                }
            }
            ch.bins = {};
            ch.bins.shrink_to_fit();
            // The predictor and scale of the first frame, which the header gives too.
            Trial t;
            ch.first_header = choose(ch, ch.first, 0, 0, t);
        }
    }

    std::vector<std::uint8_t> setup() const override {
        std::vector<std::uint8_t> out(kSetupBytes * channels_.size(), 0);
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            std::uint8_t* p = out.data() + kSetupBytes * c;
            for (int i = 0; i < 16; ++i) {
                const auto v = static_cast<std::uint16_t>(channels_[c].coefficients[i]);
                p[2 * i] = static_cast<std::uint8_t>(v >> 8);
                p[2 * i + 1] = static_cast<std::uint8_t>(v);
            }
            // Gain 0, then the initial predictor and scale (histories start
            // at 0), then the loop's: its frame's header and the two
            // samples decoded before it.
            const Channel& ch = channels_[c];
            p[0x23] = static_cast<std::uint8_t>(ch.first_header);
            if (loops_) {
                p[0x29] = static_cast<std::uint8_t>(ch.loop_header);
                put_be16(p + 0x2A, ch.loop_h1);
                put_be16(p + 0x2C, ch.loop_h2);
            }
        }
        return out;
    }

protected:
    void encode_block(const std::int16_t* pcm, std::uint32_t first, std::uint32_t count,
                      std::vector<std::uint8_t>& out) override {
        const std::size_t at = out.size();
        out.resize(at + std::size_t{kFrameBytes} * count, 0);
        for (std::uint32_t k = 0; k < count; ++k) {
            Channel& ch = channels_[first + k];
            Trial t;
            const int header = choose(ch, pcm + std::size_t{k} * kFrameSamples, ch.h1, ch.h2, t);
            ch.h1 = t.h1;
            ch.h2 = t.h2;
            std::uint8_t bytes[kFrameBytes] = {static_cast<std::uint8_t>(header)};
            for (std::uint32_t n = 0; n < kFrameSamples; n += 2) {
                bytes[1 + n / 2] = static_cast<std::uint8_t>((t.codes[n] & 0x0F) << 4 | (t.codes[n + 1] & 0x0F));
            }
            // Interleaved channels share each frame's span in 2-byte pieces.
            for (std::uint32_t piece = 0; piece < kFrameBytes / 2; ++piece) {
                std::uint8_t* dst = out.data() + at + piece * 2 * count + 2 * k;
                dst[0] = bytes[2 * piece];
                dst[1] = bytes[2 * piece + 1];
            }
        }
    }

private:
    struct Channel {
        std::vector<Stats> bins = std::vector<Stats>(kBinsPerAxis * kBinsPerAxis);
        Stats frame;
        std::int16_t first[kFrameSamples] = {};
        int x1 = 0, x2 = 0;  // the input's last two samples
        std::uint64_t seen = 0;
        std::array<int, 16> coefficients{};
        int first_header = 0;
        int h1 = 0, h2 = 0;  // the last two decoded samples

        // The loop's pass: the frame gathered, the samples before it, and
        // what the decoder holds where the loop starts.
        std::int16_t run[kFrameSamples] = {};
        std::uint32_t run_filled = 0;
        std::uint64_t run_start = 0;
        int run_h1 = 0, run_h2 = 0;
        int loop_header = 0, loop_h1 = 0, loop_h2 = 0;

        // Codes the frame gathered as the encoding will, and keeps the
        // state at `loop` when it lies in it.
        void loop_frame(std::uint64_t loop) {
            Trial t;
            const int header = choose(*this, run, run_h1, run_h2, t);
            if (loop >= run_start && loop < run_start + kFrameSamples) {
                const auto j = static_cast<std::uint32_t>(loop - run_start);
                loop_header = header;
                loop_h1 = j >= 1 ? t.decoded[j - 1] : run_h1;
                loop_h2 = j >= 2 ? t.decoded[j - 2] : j == 1 ? run_h1 : run_h2;
            }
            run_h1 = t.h1;
            run_h2 = t.h2;
            run_start += kFrameSamples;
            run_filled = 0;
        }

        void bin_frame() {
            const Pair c = frame.solve();
            const auto at = [](double v, double low, double high) {
                return std::clamp(static_cast<int>((v - low) / (high - low) * kBinsPerAxis), 0, kBinsPerAxis - 1);
            };
            bins[static_cast<std::size_t>(at(c[0], -2, 2) * kBinsPerAxis + at(c[1], -1, 1))].add(frame);
            frame = {};
        }
    };

    // The pair and scale of least error for a frame, with the input's own
    // history picking the scales worth trying; its header byte.
    static int choose(const Channel& ch, const std::int16_t* pcm, int h1, int h2, Trial& best) {
        // The decoder's sum: code << scale << 11, plus 1024 and the prediction, over 2048.
        const Choice choice = choose_run(
            pcm, kFrameSamples, kPairs,
            [&ch](int k, int a, int b) {
                return static_cast<int>((static_cast<long long>(ch.coefficients[2 * k]) * a +
                                         static_cast<long long>(ch.coefficients[2 * k + 1]) * b + 1024) >>
                                        11);
            },
            h1, h2, best);
        return choice.predictor << 4 | choice.exponent;
    }

    static void put_be16(std::uint8_t* p, int v) {
        const auto u = static_cast<std::uint16_t>(v);
        p[0] = static_cast<std::uint8_t>(u >> 8);
        p[1] = static_cast<std::uint8_t>(u);
    }

    std::vector<Channel> channels_;
    bool loops_ = false;
    std::uint64_t loop_start_ = 0;
    std::uint32_t survey_pass_ = 0;
};

}  // namespace

std::unique_ptr<SoundEncoder> make_gc_adpcm_encoder(const EncodeTarget& target) {
    return std::make_unique<GcAdpcmEncoder>(target);
}

}  // namespace soundlib
