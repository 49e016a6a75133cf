// The ADPCM encoders, heard through our decoders: a tone and noise, encoded
// in blocks of a size no codec's block divides, come back close to what went
// in (signal to noise per channel, so swapped or smeared channels show), in
// the stored size and length the layouts give.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "soundlib/codec/sound_encoder.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using soundlib::Codec;

// Interleaved samples in [-1, 1).
std::vector<double> tone(std::uint64_t frames, std::uint32_t channels) {
    std::vector<double> out;
    for (std::uint64_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            out.push_back(0.5 * std::sin(2 * std::numbers::pi * (220.0 * (c + 1) + 37 * c) * static_cast<double>(i) / 44100));
        }
    }
    return out;
}

std::vector<double> noise(std::uint64_t frames, std::uint32_t channels) {
    std::vector<double> out;
    std::uint32_t state = 12345;
    for (std::uint64_t i = 0; i < frames * channels; ++i) {
        state = state * 1664525u + 1013904223u;
        out.push_back(0.3 * (static_cast<double>(state >> 8) / (1 << 23) - 1));
    }
    return out;
}

struct Encoded {
    Bytes data;
    Bytes setup;
    std::uint64_t planned = 0;
};

// Through the encoder as the bank writer drives it, 1000 frames at a time.
Encoded encode(const soundlib::EncodeTarget& target, const std::vector<double>& samples) {
    std::string why;
    auto encoder = soundlib::make_sound_encoder(target, why);
    EXPECT_TRUE(encoder) << why;
    Encoded e;
    if (!encoder) return e;
    const std::uint32_t step = 1000;
    const auto blocks = [&](const auto& each) {
        for (std::uint64_t at = 0; at < target.frames; at += step) {
            each(samples.data() + at * target.channels,
                 static_cast<std::uint32_t>(std::min<std::uint64_t>(step, target.frames - at)));
        }
    };
    if (encoder->surveys()) {
        blocks([&](const double* p, std::uint32_t n) { encoder->survey(p, n); });
        encoder->end_survey();
    }
    e.setup = encoder->setup();
    e.planned = encoder->stored_bytes();
    for (std::uint32_t pass = 0; pass < encoder->passes(); ++pass) {
        encoder->begin_pass(pass);
        blocks([&](const double* p, std::uint32_t n) {
            std::uint32_t bad = 0;
            EXPECT_TRUE(encoder->encode(p, n, e.data, bad));
        });
        encoder->end_pass(e.data);
    }
    return e;
}

std::uint32_t fsb5_codec(Codec c) {
    switch (c) {
        case Codec::gcadpcm: return 6;
        case Codec::imaadpcm: return 7;
        case Codec::vag: return 8;
        default: return 16;
    }
}

// Decoded back through an FSB5 bank holding it, as 16-bit samples.
std::vector<std::int16_t> decode(const soundlib::EncodeTarget& target, const Encoded& e) {
    bankwriter::Sound s;
    s.channels = target.channels;
    s.frames = static_cast<std::uint32_t>(target.frames);
    s.data = e.data;
    if (!e.setup.empty()) s.chunks.push_back({7, e.setup});
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({s}, fsb5_codec(target.codec), target.adpcm_interleaved ? 0 : 2));
    soundlib::Bank bank;
    if (bank.open(dir.file("b.fsb"), {}).code != FMOD_OK) return {};
    FMOD_RESULT code;
    soundlib::PcmStream* stream = bank.stream(0, code);
    if (!stream) return {};
    Bytes raw((target.frames * target.channels + 1) * 2);  // one more: none must come
    std::size_t got = 0;
    stream->read(raw.data(), raw.size(), got);
    std::vector<std::int16_t> out(got / 2);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    return out;
}

// The worst channel's signal to noise, in dB.
double snr(const std::vector<double>& in, const std::vector<std::int16_t>& out, std::uint32_t channels) {
    double worst = 1000;
    for (std::uint32_t c = 0; c < channels; ++c) {
        double signal = 0, error = 0;
        for (std::size_t i = c; i < in.size() && i < out.size(); i += channels) {
            const double x = std::round(in[i] * 32768);
            signal += x * x;
            error += (x - out[i]) * (x - out[i]);
        }
        worst = std::min(worst, error == 0 ? 1000 : 10 * std::log10(signal / error));
    }
    return worst;
}

struct Case {
    Codec codec;
    std::uint32_t channels;
    bool interleaved;
    std::uint64_t bytes_per_block;  // every channel's
    std::uint64_t block_frames;
    double tone_db, noise_db;  // at least; what was measured is a few dB above
};

void check(const Case& c, std::uint64_t frames) {
    SCOPED_TRACE(std::string(soundlib::codec_name(c.codec)) + ", " + std::to_string(c.channels) + " channels" +
                 (c.interleaved ? "" : ", not interleaved") + ", " + std::to_string(frames) + " frames");
    soundlib::EncodeTarget target;
    target.codec = c.codec;
    target.channels = c.channels;
    target.frames = frames;
    target.adpcm_interleaved = c.interleaved;
    target.whole_multiple = 32;
    for (const bool is_tone : {true, false}) {
        SCOPED_TRACE(is_tone ? "tone" : "noise");
        const std::vector<double> in = is_tone ? tone(frames, c.channels) : noise(frames, c.channels);
        const Encoded e = encode(target, in);
        EXPECT_EQ(e.planned, e.data.size()) << "the stored size told before encoding";
        const std::uint64_t blocks = (frames + c.block_frames - 1) / c.block_frames;
        if (c.interleaved || c.channels == 1) {
            EXPECT_EQ(blocks * c.bytes_per_block, e.data.size());
        } else {
            // Each channel's part whole, the parts together a multiple of 32.
            EXPECT_EQ(0u, e.data.size() % 32);
            EXPECT_GE(e.data.size(), blocks * c.bytes_per_block);
            EXPECT_LT(e.data.size(), blocks * c.bytes_per_block + 32 * c.channels);
        }
        const std::vector<std::int16_t> out = decode(target, e);
        ASSERT_EQ(frames * c.channels, out.size()) << "the length in frames, exactly";
        const double db = snr(in, out, c.channels);
        ::testing::Test::RecordProperty(std::string(is_tone ? "tone_db_" : "noise_db_") + soundlib::codec_short_name(c.codec) + "_" +
                           std::to_string(c.channels) + (c.interleaved ? "" : "n"),
                       std::to_string(db));
        EXPECT_GT(db, is_tone ? c.tone_db : c.noise_db);
    }
}

// ---------------------------------------------------------------------------

TEST(AdpcmEncoder, ImaAdpcmMonoStereoAndSixChannels) {
    for (const std::uint32_t channels : {1u, 2u, 6u}) {
        check({Codec::imaadpcm, channels, true, 36ull * channels, 64, 30, 13}, 10007);
    }
    check({Codec::imaadpcm, 2, true, 72, 64, 30, 13}, 64);  // one whole block
}

TEST(AdpcmEncoder, PsAdpcmMonoStereoAndSixChannels) {
    for (const std::uint32_t channels : {1u, 2u, 6u}) {
        check({Codec::vag, channels, true, 16ull * channels, 28, 45, 17}, 10007);
    }
}

TEST(AdpcmEncoder, FadpcmMonoStereoAndSixChannels) {
    for (const std::uint32_t channels : {1u, 2u, 6u}) {
        check({Codec::fadpcm, channels, true, 140ull * channels, 256, 45, 17}, 10007);
    }
}

TEST(AdpcmEncoder, GcDspAdpcmInterleavedAndNot) {
    for (const std::uint32_t channels : {1u, 2u, 6u}) {
        check({Codec::gcadpcm, channels, true, 8ull * channels, 14, 55, 19}, 10007);
    }
    for (const std::uint32_t channels : {2u, 3u}) {
        check({Codec::gcadpcm, channels, false, 8ull * channels, 14, 55, 19}, 10007);
    }
}

}  // namespace
