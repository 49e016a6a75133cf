#include <gtest/gtest.h>

#include <memory>
#include <vector>

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

}  // namespace
}  // namespace soundlib
