// The four ADPCM decoders on stored bytes written here. Expected samples are
// worked out by hand from each codec's formula (floors throughout), and
// reached through the library's decoder choice and read adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "soundlib/codec/decoder_factory.h"
#include "soundlib/codec/pcm_stream.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;
using soundlib::Codec;

struct Read {
    FMOD_RESULT code = FMOD_OK;
    Samples samples;  // interleaved
    std::string detail;
};

// A file of `setup` then `data`, as one subsound.
class Raw {
public:
    Raw(Codec codec, std::uint32_t channels, std::uint64_t frames, const Bytes& data, const Bytes& setup = {},
        bool interleaved = true) {
        Bytes bytes = setup;
        bytes.insert(bytes.end(), data.begin(), data.end());
        write_file(dir_.file("raw"), bytes);
        file_.open(dir_.file("raw"), nullptr);
        info_.codec = codec;
        info_.channels = channels;
        info_.frames = frames;
        info_.setup = {0, setup.size()};
        info_.data = {setup.size(), data.size()};
        info_.adpcm_interleaved = interleaved;
        choice_ = soundlib::make_decoder(info_, file_, cache_);
        if (choice_.source)
            stream_ = std::make_unique<soundlib::PcmStream>(std::move(choice_.source), soundlib::output_format(info_),
                                                            frames);
    }

    Read read(std::uint64_t from, std::uint64_t count) {
        if (!stream_) return {choice_.code, {}, choice_.detail};
        Read r;
        Bytes bytes(count * info_.channels * 2);
        std::size_t got = 0;
        stream_->seek(from);
        r.code = stream_->read(bytes.data(), bytes.size(), got);
        r.detail = stream_->detail();
        for (std::size_t i = 0; i + 1 < got; i += 2)
            r.samples.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
        return r;
    }
    Read all() { return read(0, info_.frames); }
    std::uint64_t damaged_units() const { return stream_ ? stream_->damage().units : 0; }
    std::string first_damage() const { return stream_ ? stream_->damage().first : ""; }

private:
    TempDir dir_;
    soundlib::BankFile file_;
    soundlib::CodecCache cache_;
    soundlib::SubsoundInfo info_;
    soundlib::DecoderChoice choice_;
    std::unique_ptr<soundlib::PcmStream> stream_;
};

Bytes join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// `size` bytes with `bytes` placed at `at`.
Bytes block(std::size_t size, std::size_t at, const Bytes& bytes) {
    Bytes b(size, 0);
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}
Samples concat(Samples a, const Samples& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// IMA: diff = step/8, + step (code bit 4), + step/2 (2), + step/4 (1).

TEST(ImaAdpcm, CodesFollowTheStepTableLowNibbleFirst) {
    // idx 0 (step 7): code 7 -> +11; idx 8 (16): 7 -> +30; idx 16 (34): F -> -63;
    // idx 24 (73): 0 -> +9; idx 23 (66): 8 -> -8.
    EXPECT_EQ((Samples{0, 11, 41, -22, -13, -21}),
              Raw(Codec::imaadpcm, 1, 6, block(36, 4, {0x77, 0x0F, 0x08})).all().samples);
}

TEST(ImaAdpcm, StepIndexStopsAtZeroAndEightyEightAndSamplesSaturate) {
    // At 0, code 0 keeps index 0, so code 7 still adds 11.
    EXPECT_EQ((Samples{1000, 1000, 1000, 1000, 1011}),
              Raw(Codec::imaadpcm, 1, 5, block(36, 0, {0xE8, 0x03, 0, 0, 0x00, 0x70})).all().samples);
    // At 88 (step 32767): 7 adds 61436, C takes 36862, F takes 61436, 4 adds 36862.
    EXPECT_EQ((Samples{0, 32767, 32767, -4095, -32768, 4094}),
              Raw(Codec::imaadpcm, 1, 6, block(36, 2, {88, 0, 0x77, 0xFC, 0x04})).all().samples);
}

TEST(ImaAdpcm, BlockGivesItsFirstSampleAnd63CodesThenAPartialLastBlock) {
    // Block 0 holds 500 (its 64th code, 7, is not output); block 1 starts at -7.
    Bytes first = block(36, 0, {0xF4, 0x01});
    first[35] = 0x70;
    const Read r = Raw(Codec::imaadpcm, 1, 67, join(first, block(36, 0, {0xF9, 0xFF, 0, 0, 0x07}))).all();
    EXPECT_EQ(concat(Samples(64, 500), {-7, 4, 6}), r.samples);
}

TEST(ImaAdpcm, StereoAlternatesFourByteGroupsAndSixChannelsTwoByteRuns) {
    // Left 100, right -100; byte 16 is the left's second group: codes 8 and 9.
    Samples stereo;
    for (int f = 0; f < 11; ++f)
        stereo.insert(stereo.end(), {static_cast<std::int16_t>(f < 9 ? 100 : f == 9 ? 111 : 113), -100});
    Bytes b = block(72, 0, {100, 0, 0, 0, 0x9C, 0xFF});
    b[16] = 0x07;
    EXPECT_EQ(stereo, Raw(Codec::imaadpcm, 2, 11, b).all().samples);

    // Six: first samples at 2c, step bytes at 12 + 2c, code byte j of
    // channel c at 24 + 12 * (j / 2) + 2c + j % 2. Channel 5 starts at 1000,
    // its codes 4 and 5 are 7 and 0; channel 2 starts at step index 88 and
    // its codes 0 add 4095, 29794/8, 27086/8.
    b = block(216, 10, {0xE8, 0x03, 0, 0, 0, 0, 88});
    b[46] = 0x07;
    const Read six = Raw(Codec::imaadpcm, 6, 7, b).all();
    ASSERT_EQ(42u, six.samples.size());
    const Samples ch2 = {0, 4095, 7819, 11204}, ch5 = {1000, 1000, 1000, 1000, 1000, 1011, 1013};
    for (std::size_t f = 0; f < 7; ++f) {
        EXPECT_EQ(ch5[f], six.samples[6 * f + 5]) << f;
        if (f < 4) {
            EXPECT_EQ(ch2[f], six.samples[6 * f + 2]) << f;
        }
        EXPECT_EQ(0, six.samples[6 * f] | six.samples[6 * f + 1] | six.samples[6 * f + 3] | six.samples[6 * f + 4])
            << f;
    }
}

// GC DSP: (code * 2^exponent * 2048 + 1024 + c1 * h1 + c2 * h2) >> 11.

// One channel's 0x2E set-up bytes: 16 big-endian coefficients, then 14
// bytes to skip (junk, to catch a misplaced read of the next channel).
Bytes dsp_setup(const std::vector<std::int16_t>& pairs) {
    Bytes b(0x2E, 0x7F);
    for (std::size_t i = 0; i < 16; ++i) {
        const std::int16_t v = i < pairs.size() ? pairs[i] : 0;
        b[2 * i] = static_cast<std::uint8_t>(v >> 8 & 0xFF);
        b[2 * i + 1] = static_cast<std::uint8_t>(v & 0xFF);
    }
    return b;
}
// Pair 0 (2048, 0) repeats the last sample; pair 1 (1024, -1024) adds half the last step.
const Bytes kDsp = dsp_setup({2048, 0, 1024, -1024});

TEST(GcAdpcm, BigEndianCoefficientsRoundingAndSaturation) {
    // Frame 0: pair 0, exponent 0, codes 7 add 7 each, to 98 (h2 91).
    // Frame 1: pair 1, exponent 0, codes 0 0 0 1 -1, (x + 1024) >> 11 with x:
    // 1024 * 7 = 7168 -> 4; 1024 * -94 -> -47; 1024 * -51 -> -25;
    // 2048 + 1024 * 22 -> 12; -2048 + 1024 * 37 -> 18.
    Samples ramp;
    for (int i = 1; i <= 14; ++i) ramp.push_back(static_cast<std::int16_t>(7 * i));
    const Bytes data = {0x00, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x10, 0x00, 0x01, 0xF0};
    EXPECT_EQ(concat(ramp, {4, -47, -25, 12, 18}), Raw(Codec::gcadpcm, 1, 19, block(16, 0, data), kDsp).all().samples);

    // Exponent 11: 7 adds 14336, -8 takes 16384 from the clamped sample.
    EXPECT_EQ((Samples{14336, 28672, 32767, 16383, -1, -16385, -32768, -32768}),
              Raw(Codec::gcadpcm, 1, 8, {0x0B, 0x77, 0x78, 0x88, 0x80, 0, 0, 0}, kDsp).all().samples);
}

TEST(GcAdpcm, StereoInTwoBytePiecesOrInHalves) {
    // Left uses pair 0 of channel 0: codes 1 2 0 .. 0 1. Channel 1's
    // coefficients (0x2E bytes in) are all 0, so its samples are its codes.
    const Bytes left = {0x00, 0x12, 0, 0, 0, 0, 0, 0x01}, right = {0x00, 0xF0, 0x30, 0, 0, 0, 0, 0};
    Samples expected(28, 0);
    for (int f = 0; f < 14; ++f) expected[2 * f] = f == 0 ? 1 : f == 13 ? 4 : 3;
    expected[1] = -1;
    expected[5] = 3;
    Bytes pieces;
    for (int p = 0; p < 8; p += 2) pieces = join(join(pieces, {left[p], left[p + 1]}), {right[p], right[p + 1]});
    const Bytes setup = join(kDsp, dsp_setup({}));
    EXPECT_EQ(expected, Raw(Codec::gcadpcm, 2, 14, pieces, setup).all().samples);
    EXPECT_EQ(expected, Raw(Codec::gcadpcm, 2, 14, join(left, right), setup, false).all().samples);

    const Read short_setup = Raw(Codec::gcadpcm, 2, 14, pieces, join(kDsp, Bytes(20, 0))).all();
    EXPECT_EQ(FMOD_ERR_FILE_BAD, short_setup.code);
    EXPECT_NE(std::string::npos, short_setup.detail.find("coefficients")) << short_setup.detail;
}

// VAG: ((code << 12) >> shift) + ((f0 * h1 + f1 * h2) >> 6).

// Filter 0, shift 12, so the samples are the codes: 1 2 -8 -1, zeros, 3 -2.
const Bytes kVagPlain = join(block(15, 0, {0x0C, 0, 0x21, 0xF8}), {0xE3});
const Samples kVagPlainOut = concat(concat({1, 2, -8, -1}, Samples(22, 0)), {3, -2});

TEST(Vag, FiltersShiftsAndSaturation) {
    // Filter 1 (60), shift 0, codes 7 7 -8 -8 from h1 -2: 28672 - 2; 28672 + 26878
    // -> 32767; -32768 + 30719; -32768 - 1921 -> -32768.
    EXPECT_EQ(concat(kVagPlainOut, {28670, 32767, -2049, -32768}),
              Raw(Codec::vag, 1, 32, join(kVagPlain, block(16, 0, {0x10, 0, 0x77, 0x88}))).all().samples);
    // Filter 3 (98, -55), shift 13, codes 1 -1 0 7 from h1 -2, h2 3:
    // 0 + floor(-361/64); -1 + floor(-478/64); floor(-552/64); 3 + floor(-387/64).
    EXPECT_EQ(concat(kVagPlainOut, {-6, -9, -9, -4}),
              Raw(Codec::vag, 1, 32, join(kVagPlain, block(16, 0, {0x3D, 0, 0xF1, 0x70}))).all().samples);
    // Stereo: frames take turns.
    EXPECT_EQ((Samples{1, 0, 0, 5}),
              Raw(Codec::vag, 2, 2, join(block(16, 0, {0x0C, 0, 0x01}), block(16, 0, {0x0C, 0, 0x50}))).all().samples);
}

// FADPCM: ((code << (shift + 6)) + c1 * h1 - c2 * h2) >> 6.

Bytes fadpcm_frame(std::uint8_t index01, std::uint8_t shift01, std::int16_t h1, std::int16_t h2) {
    return block(140, 0,
                 {index01, 0, 0, 0, shift01, 0, 0, 0, static_cast<std::uint8_t>(h1 & 0xFF),
                  static_cast<std::uint8_t>(h1 >> 8 & 0xFF), static_cast<std::uint8_t>(h2 & 0xFF),
                  static_cast<std::uint8_t>(h2 >> 8 & 0xFF)});
}

TEST(Fadpcm, HeaderHistoryGroupsAndSaturation) {
    // Group 0: index 2 (122, 60), shift 4, h1 64, h2 -32, codes 0 1 -1 -8:
    // 9728/64; 15728/64; 19746/64; 14684/64.
    Bytes f = fadpcm_frame(0x02, 0x04, 64, -32);
    f[12] = 0x10;
    f[13] = 0x8F;
    EXPECT_EQ((Samples{152, 245, 308, 229}), Raw(Codec::fadpcm, 1, 4, f).all().samples);

    // Group 0: index 0, shift 0, so codes; its last two are 5 -3. Group 1
    // (word 4): index 4 (98, 55), shift 11, codes 0 7 7 -8 -8 -8: -569/64;
    // 916787/64; 2321751/64 -> 32767; 1374770/64; -745721/64; -3371872/64 -> -32768.
    f = fadpcm_frame(0x40, 0xB0, 1000, 1000);
    f[12 + 15] = 0xD5;
    f[12 + 16] = 0x70;
    f[12 + 17] = 0x87;
    f[12 + 18] = 0x88;
    EXPECT_EQ(concat(concat(Samples(30, 0), {5, -3}), {-9, 14324, 32767, 21480, -11652, -32768}),
              Raw(Codec::fadpcm, 1, 38, f).all().samples);
}

// Seeking, and damaged data, for every codec.

struct Case {
    Codec codec;
    std::uint32_t channels;
    std::size_t block_bytes;  // all channels'
    std::size_t header_step;  // from one channel's block header to the next
    std::uint64_t block_frames;
    Bytes setup;
};
const std::vector<Case> kCases = {
    {Codec::imaadpcm, 2, 72, 4, 64, {}},
    {Codec::gcadpcm, 1, 8, 8, 14,
     dsp_setup({2048, 0, 3000, -1100, 1500, 400, 0, 0, -800, 0, 4000, -2000, 100, 100, 2047, -1})},
    {Codec::vag, 2, 32, 16, 28, {}},
    {Codec::fadpcm, 2, 280, 140, 256, {}},
};

// Bytes from a fixed generator, block headers made valid.
Bytes valid_noise(const Case& c, std::size_t blocks) {
    Bytes b(blocks * c.block_bytes);
    std::uint32_t seed = 12345;
    for (auto& x : b) x = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    for (std::size_t start = 0; start < b.size(); start += c.block_bytes) {
        for (std::size_t at = start; at < start + c.header_step * c.channels; at += c.header_step) {
            if (c.codec == Codec::imaadpcm) b[at + 2] %= 89;
            if (c.codec == Codec::gcadpcm) b[at] &= 0x7B;
            if (c.codec == Codec::vag) b[at] = static_cast<std::uint8_t>((b[at] >> 4) % 5 << 4 | (b[at] & 0x0F));
            if (c.codec == Codec::fadpcm) {
                for (int i = 0; i < 4; ++i)
                    b[at + i] = static_cast<std::uint8_t>((b[at + i] & 0x0F) % 5 | ((b[at + i] >> 4) % 5) << 4);
            }
        }
    }
    return b;
}

TEST(Adpcm, SeekAnywhereGivesTheSequentialSamples) {
    for (const Case& c : kCases) {
        // Enough blocks for three units of decoding: going back restarts
        // from a kept history where samples depend on earlier blocks.
        const std::size_t blocks = 3 * 16384 / c.block_bytes + 5;
        const std::uint64_t frames = blocks * c.block_frames - 3;
        const Bytes data = valid_noise(c, blocks);
        const Read whole = Raw(c.codec, c.channels, frames, data, c.setup).all();
        ASSERT_EQ(frames * c.channels, whole.samples.size()) << whole.detail;
        Raw fresh(c.codec, c.channels, frames, data, c.setup);
        for (std::uint64_t start : {frames * 3 / 4 + 1, c.block_frames / 2, frames / 2 + 7, c.block_frames, frames / 3,
                                    std::uint64_t{0}, frames - 1}) {
            const std::uint64_t n = std::min<std::uint64_t>(1000, frames - start);
            const auto from = whole.samples.begin() + static_cast<std::ptrdiff_t>(start * c.channels);
            EXPECT_EQ(Samples(from, from + static_cast<std::ptrdiff_t>(n * c.channels)), fresh.read(start, n).samples)
                << soundlib::codec_name(c.codec) << " at frame " << start;
        }
    }
}

TEST(Adpcm, DamagedBlocksBecomeSilenceCountedOnceAndDataEndingEarlyIsReported) {
    const std::vector<std::pair<std::size_t, std::string>> bad_headers = {{2, "step index 89"},
                                                                          {0, "coefficient pair 8"},
                                                                          {0, "prediction filter 5"},
                                                                          {1, "coefficient index 5 of group 2"}};
    const std::vector<std::uint8_t> bad_values = {89, 0x80, 0x5C, 0x05};
    for (std::size_t i = 0; i < kCases.size(); ++i) {
        const Case& c = kCases[i];
        const Bytes good = valid_noise(c, 2);
        const Samples first = Raw(c.codec, c.channels, c.block_frames, good, c.setup).all().samples;
        const std::size_t last_channel = c.block_bytes + c.header_step * (c.channels - 1);

        Bytes bad = good;
        bad[last_channel + bad_headers[i].first] = bad_values[i];
        Raw raw(c.codec, c.channels, 2 * c.block_frames, bad, c.setup);
        Samples expected = first;
        expected.resize(2 * c.block_frames * c.channels, 0);
        for (int pass = 0; pass < 2; ++pass) {  // read again: counted once
            const Read r = raw.all();
            EXPECT_EQ(FMOD_OK, r.code) << r.detail;
            EXPECT_EQ(expected, r.samples) << soundlib::codec_name(c.codec);
            EXPECT_EQ(1u, raw.damaged_units());
        }
        EXPECT_NE(std::string::npos, raw.first_damage().find("block 1")) << raw.first_damage();
        EXPECT_NE(std::string::npos, raw.first_damage().find(bad_headers[i].second)) << raw.first_damage();

        const Read cut =
            Raw(c.codec, c.channels, 2 * c.block_frames, Bytes(good.begin(), good.end() - 1), c.setup).all();
        EXPECT_EQ(FMOD_ERR_FILE_BAD, cut.code);
        EXPECT_EQ(first, cut.samples) << soundlib::codec_name(c.codec);
        EXPECT_NE(std::string::npos, cut.detail.find("ends early")) << cut.detail;
    }
}

}  // namespace

namespace {

// The fast decoders against a plain decode written from the formulas, one
// sample at a time, on random blocks: mono, stereo (the paired paths) and
// more channels, read in pieces of random length at random frames.

constexpr int kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

std::uint32_t next_random(std::uint32_t& seed) { return seed = seed * 1664525u + 1013904223u; }
int nibble(unsigned v) { return (v & 8) ? static_cast<int>(v & 15) - 16 : static_cast<int>(v & 15); }
std::int16_t clamp16(std::int64_t v) { return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767)); }

struct Plain {
    Codec codec;
    std::uint32_t channels;
    bool interleaved;
    std::uint32_t frame_bytes;  // one channel's part of a block
    std::uint32_t block_frames;
    bool small_coefficients = false;  // GC: ones whose sums fit in 32 bits
};

// Random bytes for `blocks` blocks with every channel's header made valid.
Bytes random_blocks(const Plain& p, std::size_t blocks, std::uint32_t seed) {
    Bytes b(blocks * p.frame_bytes * p.channels);
    for (auto& x : b) x = static_cast<std::uint8_t>(next_random(seed) >> 24);
    const std::size_t frames = b.size() / p.frame_bytes;  // per channel, in any layout
    for (std::size_t i = 0; i < frames; ++i) {
        std::uint8_t* f = &b[i * p.frame_bytes];
        if (p.codec == Codec::imaadpcm) {
            const std::uint32_t c = i % p.channels;  // step bytes sit in the block's header
            std::uint8_t* block = &b[(i / p.channels) * 36 * p.channels];
            block[p.channels > 2 ? 2 * p.channels + 2 * c : 4 * c + 2] %= 89;
        } else if (p.codec == Codec::gcadpcm) {
            f[0] &= 0x7F;  // in every layout, a channel's header byte is its first
            if (p.interleaved) b[(i / p.channels) * 8 * p.channels + 2 * (i % p.channels)] &= 0x7F;
        } else if (p.codec == Codec::vag) {
            f[0] = static_cast<std::uint8_t>((f[0] >> 4) % 5 << 4 | (f[0] & 0x0F));
        } else {
            for (int k = 0; k < 4; ++k) f[k] = static_cast<std::uint8_t>((f[k] & 0x0F) % 5 | ((f[k] >> 4) % 5) << 4);
        }
    }
    return b;
}

std::vector<std::array<int, 16>> coefficients(const Bytes& setup, std::uint32_t channels) {
    std::vector<std::array<int, 16>> c(channels);
    for (std::uint32_t ch = 0; ch < channels; ++ch)
        for (int i = 0; i < 16; ++i)
            c[ch][i] = static_cast<std::int16_t>(setup[0x2E * ch + 2 * i] << 8 | setup[0x2E * ch + 2 * i + 1]);
    return c;
}

Samples plain_decode(const Plain& p, const Bytes& data, const Bytes& setup) {
    const std::uint32_t ch = p.channels;
    const std::size_t blocks = data.size() / (p.frame_bytes * ch);
    Samples out(blocks * p.block_frames * ch);
    auto put = [&](std::size_t block, std::uint32_t n, std::uint32_t c, int v) {
        out[(block * p.block_frames + n) * ch + c] = static_cast<std::int16_t>(v);
    };
    const auto coefs = p.codec == Codec::gcadpcm ? coefficients(setup, ch) : decltype(coefficients(setup, ch)){};
    static const int vag[5][2] = {{0, 0}, {60, 0}, {115, -52}, {98, -55}, {122, -60}};
    static const int fad[5][2] = {{0, 0}, {60, 0}, {122, 60}, {115, 52}, {98, 55}};
    static const int ima_index[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    std::vector<int> h1(ch), h2(ch);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* block = &data[b * p.frame_bytes * ch];
        for (std::uint32_t c = 0; c < ch; ++c) {
            // This channel's part of the block, gathered into one frame.
            Bytes f(p.frame_bytes);
            for (std::uint32_t i = 0; i < p.frame_bytes; ++i) {
                if (p.codec == Codec::gcadpcm && !p.interleaved)
                    f[i] = data[c * (data.size() / ch) + b * 8 + i];
                else if (p.codec == Codec::gcadpcm)
                    f[i] = block[(i / 2 * ch + c) * 2 + i % 2];
                else
                    f[i] = block[p.frame_bytes * c + i];
            }
            if (p.codec == Codec::imaadpcm) {
                const bool wide = ch > 2;
                int s = static_cast<std::int16_t>(wide ? block[2 * c] | block[2 * c + 1] << 8
                                                       : block[4 * c] | block[4 * c + 1] << 8);
                int index = wide ? block[2 * ch + 2 * c] : block[4 * c + 2];
                put(b, 0, c, s);
                const std::uint32_t run = wide ? 2 : 4;
                for (std::uint32_t n = 0; n < 63; ++n) {
                    const std::uint32_t byte = n / 2;
                    const unsigned code = block[4 * ch + byte / run * run * ch + c * run + byte % run] >> (n % 2 * 4) & 15;
                    const int step = kImaSteps[index];
                    int diff = step >> 3;
                    if (code & 4) diff += step;
                    if (code & 2) diff += step >> 1;
                    if (code & 1) diff += step >> 2;
                    s = clamp16(code & 8 ? s - diff : s + diff);
                    index = std::clamp(index + ima_index[code & 7], 0, 88);
                    put(b, n + 1, c, s);
                }
            } else if (p.codec == Codec::gcadpcm) {
                for (std::uint32_t n = 0; n < 14; ++n) {
                    const std::int64_t code = nibble(f[1 + n / 2] >> (n % 2 ? 0 : 4));
                    const int s = clamp16((code * (1 << (f[0] & 15)) * 2048 + 1024 +
                                           std::int64_t{coefs[c][2 * (f[0] >> 4)]} * h1[c] +
                                           std::int64_t{coefs[c][2 * (f[0] >> 4) + 1]} * h2[c]) >> 11);
                    h2[c] = h1[c];
                    put(b, n, c, h1[c] = s);
                }
            } else if (p.codec == Codec::vag) {
                for (std::uint32_t n = 0; n < 28; ++n) {
                    const int code = nibble(f[2 + n / 2] >> (n % 2 * 4));
                    const int s = clamp16(((code * 4096) >> (f[0] & 15)) +
                                          ((vag[f[0] >> 4][0] * h1[c] + vag[f[0] >> 4][1] * h2[c]) >> 6));
                    h2[c] = h1[c];
                    put(b, n, c, h1[c] = s);
                }
            } else {
                int a = static_cast<std::int16_t>(f[8] | f[9] << 8), z = static_cast<std::int16_t>(f[10] | f[11] << 8);
                for (std::uint32_t n = 0; n < 256; ++n) {
                    const std::uint32_t g = n / 32;
                    const unsigned index = f[g / 2] >> (g % 2 * 4) & 15, shift = f[4 + g / 2] >> (g % 2 * 4) & 15;
                    const int code = nibble(f[12 + n / 2] >> (n % 2 * 4));
                    const int s = clamp16((code * (1 << (shift + 6)) + fad[index][0] * a - fad[index][1] * z) >> 6);
                    z = a;
                    put(b, n, c, a = s);
                }
            }
        }
    }
    return out;
}

TEST(Adpcm, FastPathsMatchAPlainDecodeOnRandomBlocks) {
    Bytes setup, small_setup;
    std::uint32_t seed = 99;
    for (int i = 0; i < 6 * 0x2E; ++i) setup.push_back(static_cast<std::uint8_t>(next_random(seed) >> 24));
    for (int i = 0; i < 6 * 0x2E; ++i) small_setup.push_back(static_cast<std::uint8_t>(i % 2 ? setup[i] : static_cast<std::int8_t>(setup[i]) >> 2));
    const std::vector<Plain> cases = {
        {Codec::imaadpcm, 1, true, 36, 64},  {Codec::imaadpcm, 2, true, 36, 64},  {Codec::imaadpcm, 6, true, 36, 64},
        {Codec::gcadpcm, 1, true, 8, 14},    {Codec::gcadpcm, 2, true, 8, 14},    {Codec::gcadpcm, 3, true, 8, 14},
        {Codec::gcadpcm, 2, false, 8, 14},   {Codec::gcadpcm, 2, true, 8, 14, true}, {Codec::gcadpcm, 2, false, 8, 14, true},
        {Codec::vag, 1, true, 16, 28},       {Codec::vag, 2, true, 16, 28},
        {Codec::vag, 5, true, 16, 28},       {Codec::fadpcm, 1, true, 140, 256},  {Codec::fadpcm, 2, true, 140, 256},
        {Codec::fadpcm, 3, true, 140, 256},
    };
    for (const Plain& p : cases) {
        // Several decoding units, so reads cross them and go back over them.
        const std::size_t blocks = 40000 / (p.frame_bytes * p.channels) + 3;
        const Bytes data = random_blocks(p, blocks, 7 + p.channels);
        const Bytes& coefficients = p.small_coefficients ? small_setup : setup;
        const Samples expected = plain_decode(p, data, coefficients);
        const std::uint64_t frames = expected.size() / p.channels - 5;
        Raw raw(p.codec, p.channels, frames, data, p.codec == Codec::gcadpcm ? coefficients : Bytes{}, p.interleaved);
        const std::string what = std::string(soundlib::codec_name(p.codec)) + ", " + std::to_string(p.channels) +
                                 " channels" + (p.interleaved ? "" : ", in halves") +
                                 (p.small_coefficients ? ", small coefficients" : "");
        ASSERT_EQ(Samples(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(frames * p.channels)),
                  raw.all().samples)
            << what;
        for (int i = 0; i < 12; ++i) {
            const std::uint64_t start = next_random(seed) % frames;
            const std::uint64_t n = std::min<std::uint64_t>(1 + next_random(seed) % 30000, frames - start);
            const auto from = expected.begin() + static_cast<std::ptrdiff_t>(start * p.channels);
            EXPECT_EQ(Samples(from, from + static_cast<std::ptrdiff_t>(n * p.channels)), raw.read(start, n).samples)
                << what << ", " << n << " frames at " << start;
        }

        // A bad header on the last channel of block 5, inside a group the
        // paths decode together: the blocks before it, silence for block 5,
        // then decoding goes on (from a silent history where blocks depend
        // on the ones before).
        Bytes bad = data;
        const std::uint32_t c = p.channels - 1, block_bytes = p.frame_bytes * p.channels;
        if (p.codec == Codec::imaadpcm) bad[5 * block_bytes + (p.channels > 2 ? 2 * p.channels + 2 * c : 4 * c + 2)] = 89;
        if (p.codec == Codec::gcadpcm)
            bad[p.interleaved ? 5 * block_bytes + 2 * c : c * (data.size() / p.channels) + 5 * 8] = 0x80;
        if (p.codec == Codec::vag) bad[5 * block_bytes + 16 * c] = 0x50;
        if (p.codec == Codec::fadpcm) bad[5 * block_bytes + 140 * c] = 0x05;
        const Read r = Raw(p.codec, p.channels, frames, bad, p.codec == Codec::gcadpcm ? coefficients : Bytes{}, p.interleaved).all();
        EXPECT_EQ(FMOD_OK, r.code) << what;
        const auto block = [&](const Samples& s, std::size_t b) {
            const auto from = s.begin() + static_cast<std::ptrdiff_t>(b * p.block_frames * p.channels);
            return Samples(from, from + static_cast<std::ptrdiff_t>(p.block_frames * p.channels));
        };
        ASSERT_EQ(frames * p.channels, r.samples.size()) << what;
        for (std::size_t b = 0; b < 5; ++b) EXPECT_EQ(block(expected, b), block(r.samples, b)) << what;
        EXPECT_EQ(Samples(p.block_frames * p.channels, 0), block(r.samples, 5)) << what;
        if (p.codec == Codec::imaadpcm || p.codec == Codec::fadpcm) {  // blocks that start afresh
            EXPECT_EQ(block(expected, 6), block(r.samples, 6)) << what;
        }
    }
}

}  // namespace
