// Frame lengths worked out by hand from the header layout:
// layer III MPEG-1 and layer II: 144 * bitrate / rate; layer III MPEG-2 and
// 2.5: 72 * bitrate / rate; plus one byte when the padding bit is set.
#include "soundlib/codec/mpeg_frame_header.h"

#include <gtest/gtest.h>

#include <cstdint>

using soundlib::MpegFrameHeader;
using soundlib::parse_mpeg_frame_header;

namespace {

MpegFrameHeader parsed(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    const std::uint8_t bytes[4] = {0xFF, b1, b2, b3};
    MpegFrameHeader h;
    const char* why = parse_mpeg_frame_header(bytes, h);
    EXPECT_EQ(nullptr, why) << why;
    return h;
}

bool rejected(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    const std::uint8_t bytes[4] = {b0, b1, b2, 0x00};
    MpegFrameHeader h;
    return parse_mpeg_frame_header(bytes, h) != nullptr;
}

TEST(MpegFrameHeader, Mpeg1LayerThree128kbpsAt44100) {
    // 0xFB: MPEG-1, layer III, no CRC. 0x90: bitrate index 9, rate index 0.
    MpegFrameHeader h = parsed(0xFB, 0x90, 0x00);
    EXPECT_EQ(10, h.version);
    EXPECT_EQ(3, h.layer);
    EXPECT_EQ(128000u, h.bitrate);
    EXPECT_EQ(44100u, h.sample_rate);
    EXPECT_EQ(2u, h.channels);
    EXPECT_EQ(1152u, h.samples);
    EXPECT_EQ(417u, h.length);  // 417.96 truncated
    EXPECT_EQ(32u, h.side_info);
    EXPECT_FALSE(h.crc);

    EXPECT_EQ(418u, parsed(0xFB, 0x92, 0x00).length);  // padding bit
}

TEST(MpegFrameHeader, Mpeg1LayerThree320kbpsAt48000) {
    // The frames of the corpus's FSB4 MP3 bank: 960 bytes each.
    MpegFrameHeader h = parsed(0xFB, 0xE4, 0x40);
    EXPECT_EQ(320000u, h.bitrate);
    EXPECT_EQ(48000u, h.sample_rate);
    EXPECT_EQ(960u, h.length);
}

TEST(MpegFrameHeader, Mpeg2AndMpeg25LayerThreeHoldHalfTheSamples) {
    // 0xF3: MPEG-2 layer III. 0x80: 64 kbps, 22050 Hz. 0xC0: single channel.
    MpegFrameHeader h = parsed(0xF3, 0x80, 0xC0);
    EXPECT_EQ(20, h.version);
    EXPECT_EQ(64000u, h.bitrate);
    EXPECT_EQ(22050u, h.sample_rate);
    EXPECT_EQ(1u, h.channels);
    EXPECT_EQ(576u, h.samples);
    EXPECT_EQ(208u, h.length);  // 72 * 64000 / 22050 = 208.98
    EXPECT_EQ(9u, h.side_info);

    // 0xE3: MPEG-2.5 layer III. 0x1A: 8 kbps, 8000 Hz, padding bit.
    h = parsed(0xE3, 0x1A, 0x00);
    EXPECT_EQ(25, h.version);
    EXPECT_EQ(8000u, h.sample_rate);
    EXPECT_EQ(576u, h.samples);
    EXPECT_EQ(73u, h.length);
    EXPECT_EQ(17u, h.side_info);
}

TEST(MpegFrameHeader, LayerTwo) {
    // 0xFD: MPEG-1 layer II. 0xA4: index 10 = 192 kbps in the layer II table, 48000 Hz.
    MpegFrameHeader h = parsed(0xFD, 0xA4, 0x00);
    EXPECT_EQ(2, h.layer);
    EXPECT_EQ(192000u, h.bitrate);
    EXPECT_EQ(1152u, h.samples);
    EXPECT_EQ(576u, h.length);
    EXPECT_EQ(0u, h.side_info);
    // Index 12 is 256 kbps for layer II (224 for layer III): 835.9 bytes at 44100.
    EXPECT_EQ(835u, parsed(0xFD, 0xC0, 0x00).length);
    // With a CRC (protection bit clear).
    EXPECT_TRUE(parsed(0xFC, 0xA4, 0x00).crc);
    // MPEG-2 layer II keeps 1152 samples: 0xF5, 160 kbps at 24000 Hz.
    h = parsed(0xF5, 0xE4, 0x00);
    EXPECT_EQ(1152u, h.samples);
    EXPECT_EQ(960u, h.length);
}

TEST(MpegFrameHeader, InvalidHeaders) {
    EXPECT_TRUE(rejected(0xFF, 0xFB, 0xF0));  // bitrate index 15
    EXPECT_TRUE(rejected(0xFF, 0xFB, 0x9C));  // sample rate index 3
    EXPECT_TRUE(rejected(0xFF, 0xFB, 0x00));  // free format: no length
    EXPECT_TRUE(rejected(0xFF, 0xEB, 0x90));  // reserved version
    EXPECT_TRUE(rejected(0xFF, 0xF9, 0x90));  // reserved layer
    EXPECT_TRUE(rejected(0xFF, 0xFF, 0x90));  // layer I
    EXPECT_TRUE(rejected(0xFE, 0xFB, 0x90));  // sync broken in the first byte
    EXPECT_TRUE(rejected(0xFF, 0x1B, 0x90));  // and in the second
    EXPECT_TRUE(rejected(0x00, 0x00, 0x00));
}

}  // namespace
