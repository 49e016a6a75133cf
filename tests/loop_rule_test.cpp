// Which stored loop ranges are real loops: both sides of every edge.
#include <gtest/gtest.h>

#include "soundlib/bank/loop_rule.h"

namespace {

using soundlib::Codec;
using soundlib::SubsoundInfo;

SubsoundInfo sound(std::uint32_t start, std::uint32_t end, std::uint64_t frames, std::uint32_t rate = 44100,
                   Codec codec = Codec::pcm16) {
    SubsoundInfo s;
    s.loop_start = start;
    s.loop_end = end;
    s.frames = frames;
    s.frequency = rate;
    s.codec = codec;
    return s;
}

constexpr std::uint32_t kNoFlag = 0x10, kLoopOff = 0x01, kLoopNormal = 0x02, kBidi = 0x04;

TEST(LoopRule, Fsb4FlagsDecide) {
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(100, 5000, 100000), kLoopOff | kLoopNormal, false));
    EXPECT_TRUE(soundlib::fsb4_sound_loops(sound(0, 99999, 100000), kLoopNormal, false));
    EXPECT_TRUE(soundlib::fsb4_sound_loops(sound(99999, 99999, 100000), kLoopNormal, false));
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(100, 5000, 100000), kLoopNormal, true));  // basic header
    // Without loop-normal (bidi counts as without): a part of the sound loops,
    // the whole of a short one does not.
    EXPECT_TRUE(soundlib::fsb4_sound_loops(sound(100, 5000, 100000), kNoFlag, false));
    EXPECT_TRUE(soundlib::fsb4_sound_loops(sound(100, 5000, 100000), kBidi, false));
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(0, 99999, 100000), kNoFlag, false));
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(0, 99999, 100000), kBidi, false));
}

TEST(LoopRule, Fsb4RangesThatCannotLoop) {
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(0, 0, 100000), kLoopNormal, false));       // end 0
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(5, 4, 100000), kLoopNormal, false));       // backwards
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(0, 100000, 100000), kLoopNormal, false));  // past the end
}

TEST(LoopRule, Fsb4WholeSoundLoopsFromTwentySeconds) {
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(0, 159998, 159999, 8000), kNoFlag, false));
    EXPECT_TRUE(soundlib::fsb4_sound_loops(sound(0, 159999, 160000, 8000), kNoFlag, false));
}

TEST(LoopRule, Fsb4MpegWholeSoundAllowsAFrameOfSlack) {
    const std::uint64_t n = 100000;
    EXPECT_FALSE(soundlib::fsb4_sound_loops(sound(0, n - 1153, n, 44100, Codec::mpeg), kNoFlag, false));
    EXPECT_TRUE(soundlib::fsb4_sound_loops(sound(0, n - 1154, n, 44100, Codec::mpeg), kNoFlag, false));
    // PCM has no slack: a frame short of the whole sound is a loop.
    EXPECT_TRUE(soundlib::fsb4_sound_loops(sound(0, n - 2, n), kNoFlag, false));
}

TEST(LoopRule, Fsb5LoopChunk) {
    EXPECT_FALSE(soundlib::fsb5_sound_loops(sound(100, 5000, 100000), false));
    EXPECT_TRUE(soundlib::fsb5_sound_loops(sound(100, 5000, 100000), true));
    EXPECT_TRUE(soundlib::fsb5_sound_loops(sound(1, 99999, 100000), true));
    EXPECT_FALSE(soundlib::fsb5_sound_loops(sound(0, 5000 - 1153, 5000), true));
    EXPECT_TRUE(soundlib::fsb5_sound_loops(sound(0, 5000 - 1154, 5000), true));
    EXPECT_FALSE(soundlib::fsb5_sound_loops(sound(100, 100000, 100000), true));
}

}  // namespace
