#include <gtest/gtest.h>

#include <cstring>

#include "wav/wav_header.h"

namespace {

std::uint32_t u32(std::uint32_t at) {
    return wav_header[at] | (wav_header[at + 1] << 8) | (wav_header[at + 2] << 16) |
           (static_cast<std::uint32_t>(wav_header[at + 3]) << 24);
}
std::uint32_t u16(std::uint32_t at) { return wav_header[at] | (wav_header[at + 1] << 8); }

TEST(WavHeader, StereoSixteenBitFieldsFollowTheSubsound) {
    EXPECT_EQ(4, patch_wav_header(2, 16, 400, 22050, false));
    EXPECT_EQ(0, std::memcmp(wav_header, "RIFF", 4));
    EXPECT_EQ(436u, u32(4));
    EXPECT_EQ(0, std::memcmp(wav_header + 8, "WAVEfmt ", 8));
    EXPECT_EQ(16u, u32(16));
    EXPECT_EQ(1u, u16(20));
    EXPECT_EQ(2u, u16(22));
    EXPECT_EQ(22050u, u32(24));
    EXPECT_EQ(88200u, u32(28));
    EXPECT_EQ(4u, u16(32));
    EXPECT_EQ(16u, u16(34));
    EXPECT_EQ(0, std::memcmp(wav_header + 36, "data", 4));
    EXPECT_EQ(400u, u32(40));
}

TEST(WavHeader, NothingOfAnEarlierFileRemains) {
    patch_wav_header(6, 24, 0, 48000, true);
    EXPECT_EQ(3u, u16(20));
    EXPECT_EQ(18u, u16(32));
    EXPECT_EQ(18u * 48000, u32(28));
    EXPECT_EQ(36u, u32(4));

    EXPECT_EQ(1, patch_wav_header(1, 8, 100, 8000, false));
    EXPECT_EQ(1u, u16(20));
    EXPECT_EQ(1u, u16(22));
    EXPECT_EQ(1u, u16(32));
    EXPECT_EQ(8u, u16(34));
    EXPECT_EQ(8000u, u32(28));
    EXPECT_EQ(136u, u32(4));
}

TEST(WavHeader, WideValuesKeepAllSixteenBits) {
    // 300 channels of 32-bit float: block align 1200, not its low byte.
    EXPECT_EQ(1200, patch_wav_header(300, 32, 0, 44100, true));
    EXPECT_EQ(300u, u16(22));
    EXPECT_EQ(1200u, u16(32));
    EXPECT_EQ(1200u * 44100, u32(28));
}

TEST(WavHeader, BitsThatAreNotWholeBytesTruncate) {
    EXPECT_EQ(1, patch_wav_header(1, 12, 10, 44100, false));
    EXPECT_EQ(12u, u16(34));
    EXPECT_EQ(0, patch_wav_header(1, 4, 10, 44100, false));
    EXPECT_EQ(0u, u32(28));
}

TEST(WavHeader, OddDataSizeCountsThePadByteInTheRiffSizeOnly) {
    patch_wav_header(1, 8, 3001, 11025, false);
    EXPECT_EQ(3001u, u32(40));
    EXPECT_EQ(3001u + 36 + 1, u32(4));
    patch_wav_sizes(1000);
    EXPECT_EQ(1000u, u32(40));
    EXPECT_EQ(1036u, u32(4));
}

}  // namespace
