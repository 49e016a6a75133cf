// What the VAG, FADPCM and GC DSP encoders share: each run of samples (a
// frame or group) is coded with one of a few two-tap predictors over the
// last two decoded samples and one step of 2^exponent per code (-8..7); the
// run takes the pair of least error. Each code is the nearest, as the
// decoder will rebuild it, so the error is what the listener hears.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "soundlib/codec/block_encoder.h"

namespace soundlib::adpcm {

inline constexpr std::uint32_t kMaxRunSamples = 32;
inline constexpr int kMaxExponent = 12;

struct Trial {
    int codes[kMaxRunSamples];
    int decoded[kMaxRunSamples];  // what the decoder makes of them
    long long error = 0;
    int h1 = 0, h2 = 0;  // the last two decoded samples after the run
};

// The run coded with one predictor and step; predict(h1, h2) gives the
// prediction from the two samples before.
template <class Predict>
void code_run(const std::int16_t* pcm, std::uint32_t n, Predict predict, int exponent, int h1, int h2, Trial& t) {
    const int step = 1 << exponent;
    t.error = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const int predicted = predict(h1, h2);
        int code = nearest_code(pcm[i] - predicted, step);
        int sample = clamp16(code * step + predicted);
        if (code > -8) {  // where the clamp cut the nearest code short, the one below may be nearer
            const int lower = clamp16((code - 1) * step + predicted);
            if (std::abs(lower - pcm[i]) < std::abs(sample - pcm[i])) {
                --code;
                sample = lower;
            }
        }
        t.codes[i] = code;
        t.decoded[i] = sample;
        t.error += static_cast<long long>(sample - pcm[i]) * (sample - pcm[i]);
        h2 = h1;
        h1 = sample;
    }
    t.h1 = h1;
    t.h2 = h2;
}

struct Choice {
    int predictor = 0;
    int exponent = 0;
};

// The predictor (0..predictors - 1; predict(k, h1, h2)) and exponent of
// least error for the run, from the decoded history h1, h2. The residual
// with the input's own history picks the step that fits it; that one and
// its neighbours are tried.
template <class Predict>
Choice choose_run(const std::int16_t* pcm, std::uint32_t n, int predictors, Predict predict, int h1, int h2,
                  Trial& best) {
    Choice choice;
    Trial trial;
    bool any = false;
    for (int k = 0; k < predictors; ++k) {
        const auto with_k = [&](int a, int b) { return predict(k, a, b); };
        int largest = 0, p1 = h1, p2 = h2;
        for (std::uint32_t i = 0; i < n; ++i) {
            largest = std::max(largest, std::abs(pcm[i] - with_k(p1, p2)));
            p2 = p1;
            p1 = pcm[i];
        }
        int centre = 0;
        while (centre < kMaxExponent && (7 << centre) < largest) ++centre;
        for (int e = std::max(0, centre - 1); e <= std::min(kMaxExponent, centre + 1); ++e) {
            code_run(pcm, n, with_k, e, h1, h2, trial);
            if (!any || trial.error < best.error) {
                best = trial;
                choice = {k, e};
                any = true;
            }
        }
    }
    return choice;
}

}  // namespace soundlib::adpcm
