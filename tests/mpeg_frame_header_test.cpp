// Frame lengths worked out by hand from the header layout: layer III MPEG-1
// and layer II take 144 * bitrate / rate bytes, layer III MPEG-2 and 2.5
// take 72 * bitrate / rate, plus one when the padding bit is set.
#include "soundlib/codec/mpeg/mpeg_frame_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

using soundlib::MpegFrameHeader;
using soundlib::parse_mpeg_frame_header;

namespace {

struct Vector {
    std::uint8_t b1, b2, b3;  // the bytes after 0xFF
    int version, layer;
    std::uint32_t kbps, rate, channels, samples, length, side_info;
};

constexpr Vector kValid[] = {
    // 0xFB: MPEG-1 layer III, no CRC. 0x90: bitrate index 9, rate index 0: 417.96 bytes.
    {0xFB, 0x90, 0x00, 10, 3, 128, 44100, 2, 1152, 417, 32},
    {0xFB, 0x92, 0x00, 10, 3, 128, 44100, 2, 1152, 418, 32},  // padding bit
    // The frames of the corpus's FSB4 MP3: index 14, rate index 1, joint stereo.
    {0xFB, 0xE4, 0x40, 10, 3, 320, 48000, 2, 1152, 960, 32},
    // 0xF3: MPEG-2 layer III. 64 kbps at 22050 Hz, single channel: 208.98 bytes.
    {0xF3, 0x80, 0xC0, 20, 3, 64, 22050, 1, 576, 208, 9},
    // 0xE3: MPEG-2.5 layer III. 8 kbps at 8000 Hz, padding bit.
    {0xE3, 0x1A, 0x00, 25, 3, 8, 8000, 2, 576, 73, 17},
    // 0xFD: MPEG-1 layer II. Index 10 is 192 kbps in the layer II table.
    {0xFD, 0xA4, 0x00, 10, 2, 192, 48000, 2, 1152, 576, 0},
    // Index 12: 256 kbps for layer II (224 for layer III); 835.9 bytes at 44100.
    {0xFD, 0xC0, 0x00, 10, 2, 256, 44100, 2, 1152, 835, 0},
    // 0xF5: MPEG-2 layer II keeps 1152 samples. 160 kbps at 24000 Hz.
    {0xF5, 0xE4, 0x00, 20, 2, 160, 24000, 2, 1152, 960, 0},
};

TEST(MpegFrameHeader, LengthsSamplesAndChannels) {
    for (const Vector& v : kValid) {
        const std::uint8_t bytes[4] = {0xFF, v.b1, v.b2, v.b3};
        MpegFrameHeader h;
        const char* why = parse_mpeg_frame_header(bytes, h);
        SCOPED_TRACE(testing::Message() << std::hex << int(v.b1) << " " << int(v.b2) << " " << int(v.b3));
        ASSERT_EQ(nullptr, why) << why;
        EXPECT_EQ(v.version, h.version);
        EXPECT_EQ(v.layer, h.layer);
        EXPECT_EQ(v.kbps * 1000, h.bitrate);
        EXPECT_EQ(v.rate, h.sample_rate);
        EXPECT_EQ(v.channels, h.channels);
        EXPECT_EQ(v.samples, h.samples);
        EXPECT_EQ(v.length, h.length);
        EXPECT_EQ(v.side_info, h.side_info);
        EXPECT_FALSE(h.crc);
    }
    const std::uint8_t with_crc[4] = {0xFF, 0xFC, 0xA4, 0x00};  // protection bit clear
    MpegFrameHeader h;
    ASSERT_EQ(nullptr, parse_mpeg_frame_header(with_crc, h));
    EXPECT_TRUE(h.crc);
}

TEST(MpegFrameHeader, InvalidHeaders) {
    const std::uint8_t invalid[][4] = {
        {0xFF, 0xFB, 0xF0, 0x00},  // bitrate index 15
        {0xFF, 0xFB, 0x9C, 0x00},  // sample rate index 3
        {0xFF, 0xFB, 0x00, 0x00},  // free format: no length
        {0xFF, 0xEB, 0x90, 0x00},  // reserved version
        {0xFF, 0xF9, 0x90, 0x00},  // reserved layer
        {0xFF, 0xFF, 0x90, 0x00},  // layer I
        {0xFE, 0xFB, 0x90, 0x00},  // sync broken in the first byte
        {0xFF, 0x1B, 0x90, 0x00},  // and in the second
    };
    for (const auto& bytes : invalid) {
        MpegFrameHeader h;
        EXPECT_NE(nullptr, parse_mpeg_frame_header(bytes, h)) << std::hex << int(bytes[1]) << " " << int(bytes[2]);
    }
}

}  // namespace

namespace {

// A frame of `length` zeros under the header bytes, with `tag` written
// where the side information ends.
std::vector<std::uint8_t> tag_frame(std::uint8_t b1, std::uint8_t b3, std::size_t tag_at, const char* tag) {
    std::vector<std::uint8_t> f(417, 0);
    f[0] = 0xFF;
    f[1] = b1;
    f[2] = 0x90;  // 128 kbps; at 22050 Hz for MPEG-2 as at 44100 for MPEG-1
    f[3] = b3;
    std::copy(tag, tag + 4, f.begin() + static_cast<std::ptrdiff_t>(tag_at));
    return f;
}

bool tag(const std::vector<std::uint8_t>& f) {
    MpegFrameHeader h;
    return parse_mpeg_frame_header(f.data(), h) == nullptr && soundlib::is_mpeg_tag_frame(f.data(), h);
}

}  // namespace

TEST(MpegFrameHeader, TagFramesAreKnownByTheWordAfterTheirSideInformation) {
    // MPEG-1 stereo and mono (0xC0: single channel), MPEG-2 stereo and mono.
    EXPECT_TRUE(tag(tag_frame(0xFB, 0x00, 4 + 32, "Info")));
    EXPECT_TRUE(tag(tag_frame(0xFB, 0xC0, 4 + 17, "Xing")));
    EXPECT_TRUE(tag(tag_frame(0xF3, 0x00, 4 + 17, "Xing")));
    EXPECT_TRUE(tag(tag_frame(0xF3, 0xC0, 4 + 9, "Info")));
    EXPECT_TRUE(tag(tag_frame(0xFA, 0x00, 4 + 2 + 32, "Info")));  // a CRC before the side information
    // Elsewhere, another word, or side information that is not all zero:
    // audio.
    EXPECT_FALSE(tag(tag_frame(0xFB, 0x00, 4 + 17, "Info")));
    EXPECT_FALSE(tag(tag_frame(0xFB, 0x00, 4 + 32, "Xinf")));
    std::vector<std::uint8_t> f = tag_frame(0xFB, 0x00, 4 + 32, "Info");
    f[10] = 1;
    EXPECT_FALSE(tag(f));
    EXPECT_FALSE(tag(tag_frame(0xFD, 0x00, 4, "Info")));  // layer II has no tag frame
}
