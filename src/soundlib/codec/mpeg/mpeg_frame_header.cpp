#include "soundlib/codec/mpeg/mpeg_frame_header.h"

#include <algorithm>
#include <cstring>

namespace soundlib {

namespace {

// kbps by bitrate index 1..14; index 0 (free format) has no length in the
// header and 15 is forbidden.
constexpr std::uint16_t kMpeg1Layer2[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
constexpr std::uint16_t kMpeg1Layer3[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::uint16_t kMpeg2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

constexpr std::uint32_t kMpeg1Rates[3] = {44100, 48000, 32000};

}  // namespace

const char* parse_mpeg_frame_header(const std::uint8_t* b, MpegFrameHeader& h) {
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return "no frame sync";
    const int version_bits = (b[1] >> 3) & 3;
    const int layer_bits = (b[1] >> 1) & 3;
    const int bitrate_index = b[2] >> 4;
    const int rate_index = (b[2] >> 2) & 3;
    if (version_bits == 1) return "reserved MPEG version";
    if (layer_bits == 0) return "reserved layer";
    if (layer_bits == 3) return "layer I, which banks do not use";
    if (bitrate_index == 15) return "forbidden bitrate index 15";
    if (bitrate_index == 0) return "free-format bitrate, which gives no frame length";
    if (rate_index == 3) return "reserved sample rate index 3";

    h.version = version_bits == 3 ? 10 : version_bits == 2 ? 20 : 25;
    h.layer = layer_bits == 2 ? 2 : 3;
    const bool mpeg1 = h.version == 10;
    const std::uint16_t* kbps = mpeg1 ? (h.layer == 2 ? kMpeg1Layer2 : kMpeg1Layer3) : kMpeg2;
    h.bitrate = kbps[bitrate_index] * 1000u;
    h.sample_rate = kMpeg1Rates[rate_index] / (mpeg1 ? 1 : h.version == 20 ? 2 : 4);
    h.channels = (b[3] >> 6) == 3 ? 1 : 2;
    h.crc = (b[1] & 1) == 0;
    const std::uint32_t padding = (b[2] >> 1) & 1;

    // MPEG-2 and 2.5 layer III frames carry one granule, not two.
    const bool half = !mpeg1 && h.layer == 3;
    h.samples = half ? 576 : 1152;
    h.length = (half ? 72 : 144) * h.bitrate / h.sample_rate + padding;
    if (h.layer == 3) {
        h.side_info = mpeg1 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
    } else {
        h.side_info = 0;
    }
    return nullptr;
}

bool is_mpeg_tag_frame(const std::uint8_t* frame, const MpegFrameHeader& h) {
    if (h.layer != 3) return false;
    const std::uint32_t side = 4 + (h.crc ? 2 : 0);
    const std::uint32_t tag = side + h.side_info;
    if (tag + 4 > h.length) return false;
    if (std::any_of(frame + side, frame + tag, [](std::uint8_t b) { return b != 0; })) return false;
    return std::memcmp(frame + tag, "Xing", 4) == 0 || std::memcmp(frame + tag, "Info", 4) == 0;
}

}  // namespace soundlib
