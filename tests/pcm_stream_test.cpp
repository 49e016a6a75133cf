#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "soundlib/codec/float_to_s16.h"
#include "soundlib/codec/pcm/pcm_source.h"
#include "soundlib/codec/pcm_stream.h"

namespace soundlib {
namespace {

// Mono 16-bit units of 10 frames whose samples are their frame numbers, so
// every delivered sample says where it came from. A stateful source goes
// back to frame 0 on any backward seek, as decoders with running history do.
class CountingSource : public FrameSource {
public:
    CountingSource(std::uint64_t stored_frames, bool stateful) : stored_(stored_frames), stateful_(stateful) {}

    std::uint32_t max_unit_frames() const override { return 10; }

    std::uint64_t seek(std::uint64_t frame) override {
        ++seeks;
        if (stateful_) {
            if (frame < next_) next_ = 0;
            return next_;
        }
        next_ = frame / 10 * 10;
        return next_;
    }

    FMOD_RESULT decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) override {
        ++decodes;
        frames = 0;
        if (fail_at_unit >= 0 && next_ == static_cast<std::uint64_t>(fail_at_unit) * 10) {
            // Damage halfway through the unit: five good frames, then a failure.
            write(out, 5);
            frames = 5;
            next_ += 5;
            detail = "bad block";
            return FMOD_ERR_FILE_BAD;
        }
        const std::uint64_t left = stored_ > next_ ? stored_ - next_ : 0;
        frames = static_cast<std::uint32_t>(left < 10 ? left : 10);
        write(out, frames);
        next_ += frames;
        return FMOD_OK;
    }

    int seeks = 0;
    int decodes = 0;
    int fail_at_unit = -1;

private:
    void write(std::uint8_t* out, std::uint32_t frames) const {
        auto* s = reinterpret_cast<std::int16_t*>(out);
        for (std::uint32_t i = 0; i < frames; ++i) s[i] = static_cast<std::int16_t>(next_ + i);
    }

    std::uint64_t stored_;
    bool stateful_;
    std::uint64_t next_ = 0;
};

struct Fixture {
    Fixture(std::uint64_t total, std::uint64_t stored, bool stateful) {
        auto owned = std::make_unique<CountingSource>(stored, stateful);
        source = owned.get();
        PcmFormat format;
        stream = std::make_unique<PcmStream>(std::move(owned), format, total);
    }

    std::vector<std::int16_t> read(std::size_t frames, FMOD_RESULT* result = nullptr) {
        std::vector<std::int16_t> out(frames);
        std::size_t delivered = 0;
        const FMOD_RESULT r = stream->read(reinterpret_cast<std::uint8_t*>(out.data()), frames * 2, delivered);
        if (result) *result = r;
        out.resize(delivered / 2);
        return out;
    }

    CountingSource* source;
    std::unique_ptr<PcmStream> stream;
};

std::vector<std::int16_t> range(int from, int to) {
    std::vector<std::int16_t> v;
    for (int i = from; i < to; ++i) v.push_back(static_cast<std::int16_t>(i));
    return v;
}

TEST(PcmStream, SequentialReadsAcrossUnitsDecodeEachUnitOnce) {
    Fixture f(35, 40, false);
    EXPECT_EQ(range(0, 7), f.read(7));
    EXPECT_EQ(range(7, 23), f.read(16));
    FMOD_RESULT r;
    EXPECT_EQ(range(23, 35), f.read(100, &r));  // trimmed to the length
    EXPECT_EQ(FMOD_ERR_FILE_EOF, r);
    EXPECT_EQ(4, f.source->decodes);
    EXPECT_EQ(1, f.source->seeks);
    EXPECT_TRUE(f.read(1, &r).empty());
    EXPECT_EQ(FMOD_ERR_FILE_EOF, r);
}

TEST(PcmStream, AReadThatEndsExactlyAtTheEndIsASuccess) {
    Fixture f(20, 20, false);
    FMOD_RESULT r;
    EXPECT_EQ(range(0, 20), f.read(20, &r));
    EXPECT_EQ(FMOD_OK, r);
}

TEST(PcmStream, SeeksLandOnTheExactFrame) {
    Fixture f(100, 100, false);
    f.stream->seek(57);
    EXPECT_EQ(range(57, 61), f.read(4));
    f.stream->seek(3);
    EXPECT_EQ(range(3, 5), f.read(2));
    f.stream->seek(5);  // inside the unit already held: no new decode
    const int decodes = f.source->decodes;
    EXPECT_EQ(range(5, 8), f.read(3));
    EXPECT_EQ(decodes, f.source->decodes);
    f.stream->seek(1000);
    EXPECT_EQ(100u, f.stream->position());
}

TEST(PcmStream, StatefulSourcesDecodeForwardFromWhereTheyRestart) {
    Fixture f(100, 100, true);
    f.stream->seek(45);
    EXPECT_EQ(range(45, 52), f.read(7));
    EXPECT_EQ(6, f.source->decodes);  // units 0..5, from the start
    f.stream->seek(12);
    EXPECT_EQ(range(12, 14), f.read(2));
    EXPECT_EQ(8, f.source->decodes);  // back to 0, then units 0 and 1
}

TEST(PcmStream, DataEndingBeforeTheLengthIsAFailureNotAnEnd) {
    Fixture f(50, 23, false);
    FMOD_RESULT r;
    EXPECT_EQ(range(0, 23), f.read(50, &r));
    EXPECT_EQ(FMOD_ERR_FILE_BAD, r);
    EXPECT_EQ("the stored data ends at frame 23 of 50", f.stream->detail());
}

TEST(PcmStream, DamagedUnitGivesItsGoodFramesThenTheFailure) {
    Fixture f(50, 50, false);
    f.source->fail_at_unit = 2;
    FMOD_RESULT r;
    EXPECT_EQ(range(0, 25), f.read(50, &r));
    EXPECT_EQ(FMOD_ERR_FILE_BAD, r);
    EXPECT_EQ("bad block", f.stream->detail());
}

TEST(PcmStream, PartialFramesAreNeverDelivered) {
    Fixture f(10, 10, false);
    std::uint8_t buffer[5];
    std::size_t delivered = 99;
    EXPECT_EQ(FMOD_OK, f.stream->read(buffer, 5, delivered));
    EXPECT_EQ(4u, delivered);
}

// Stored PCM, read straight into the caller's buffer when whole reads fit
// there and converted in place: reads of every size at odd frames give the
// converted bytes, whatever the frame width.
TEST(PcmSource, ReadsOfAnySizeAtOddFramesGiveTheConvertedBytes) {
    struct Case {
        Codec codec;
        std::uint32_t channels;
        bool big_endian;
        bool signed8;
        std::uint32_t frame_bytes;
    };
    const Case cases[] = {{Codec::pcm16, 2, false, false, 4},
                          {Codec::pcm16, 1, true, false, 2},
                          {Codec::pcm8, 2, false, true, 2},
                          {Codec::pcm24, 3, false, false, 9}};
    std::uint32_t seed = 5;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (const Case& c : cases) {
        const std::uint64_t frames = 70001;  // several 64 KiB units, and a partial one
        std::vector<std::uint8_t> stored(frames * c.frame_bytes + 3);  // a partial frame after the last
        for (auto& b : stored) b = static_cast<std::uint8_t>(next() >> 24);
        std::vector<std::uint8_t> expected(stored.begin(), stored.begin() + frames * c.frame_bytes);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (c.signed8) expected[i] ^= 0x80;
            if (c.big_endian && i % 2 == 0) std::swap(expected[i], expected[i + 1]);
        }
        BankFile file;
        file.open_memory(stored.data(), stored.size());
        SubsoundInfo info;
        info.codec = c.codec;
        info.channels = c.channels;
        info.frames = frames;
        info.pcm_big_endian = c.big_endian;
        info.pcm8_signed = c.signed8;
        info.data = {0, stored.size()};
        PcmStream stream(make_pcm_source(info, file), pcm_output_format(info), frames);
        for (int i = 0; i < 40; ++i) {
            const std::uint64_t from = i == 0 ? 0 : next() % frames;
            const std::uint64_t count = std::min<std::uint64_t>(i % 2 ? next() % 100 + 1 : next() % 60000, frames - from);
            std::vector<std::uint8_t> out(count * c.frame_bytes + 1);
            std::size_t delivered = 0;
            stream.seek(from);
            ASSERT_EQ(FMOD_OK, stream.read(out.data() + 1, count * c.frame_bytes, delivered));  // at an odd address
            ASSERT_EQ(count * c.frame_bytes, delivered);
            EXPECT_TRUE(std::equal(out.begin() + 1, out.end(), expected.begin() + from * c.frame_bytes))
                << static_cast<int>(c.codec) << ": " << count << " frames at " << from;
        }
    }
}

// The vector conversion against the rule one sample at a time, on the
// values where it could differ and on every length around its step of 8.
TEST(FloatToS16, VectorPathsFollowTheRule) {
    auto rule = [](float x) -> std::int16_t {
        const float v = x * 32767.0f;
        if (v != v) return 0;
        if (v >= 32767.0f) return 32767;
        if (v <= -32768.0f) return -32768;
        return static_cast<std::int16_t>(v);
    };
    std::vector<float> values = {0.0f, -0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 1.0001f, -1.0001f, 0.99999f,
                                 -1.00003f, 3.0e-5f, -3.0e-5f, 1e30f, -1e30f,
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::nanf(""), -std::nanf(""), 16383.5f / 32767.0f, -16383.5f / 32767.0f};
    std::uint32_t seed = 3;
    while (values.size() < 200) {
        seed = seed * 1664525u + 1013904223u;
        values.push_back(static_cast<float>(static_cast<std::int32_t>(seed)) / 1.9e9f);
    }
    for (std::uint32_t channels = 1; channels <= 3; ++channels) {
        for (std::size_t frames = 0; frames <= 20; ++frames) {
            std::vector<std::vector<float>> planes(channels);
            std::vector<const float*> pointers;
            for (std::uint32_t c = 0; c < channels; ++c) {
                for (std::size_t f = 0; f < frames; ++f) planes[c].push_back(values[(f * 7 + c * 13 + frames) % values.size()]);
                pointers.push_back(planes[c].data());
            }
            std::vector<std::uint8_t> out(frames * channels * 2);
            planes_to_s16(pointers.data(), channels, frames, out.data());
            for (std::size_t f = 0; f < frames; ++f) {
                for (std::uint32_t c = 0; c < channels; ++c) {
                    const auto got = static_cast<std::int16_t>(out[2 * (f * channels + c)] | out[2 * (f * channels + c) + 1] << 8);
                    ASSERT_EQ(rule(planes[c][f]), got) << planes[c][f] << ", " << channels << " channels";
                }
            }
        }
    }
    std::vector<std::uint8_t> out(values.size() * 2);
    floats_to_s16(values.data(), values.size(), out.data());
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(rule(values[i]), static_cast<std::int16_t>(out[2 * i] | out[2 * i + 1] << 8)) << values[i];
}

}  // namespace
}  // namespace soundlib
