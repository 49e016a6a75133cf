// The four bytes that open an MPEG audio frame: enough to know how long the
// frame is, so a bank's frames can be walked without searching for sync words.
#pragma once

#include <cstdint>

namespace soundlib {

struct MpegFrameHeader {
    int version = 0;                // 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    int layer = 0;                  // 2 or 3
    std::uint32_t bitrate = 0;      // bits per second
    std::uint32_t sample_rate = 0;  // Hz
    std::uint32_t channels = 0;     // 1 (single channel mode) or 2
    std::uint32_t samples = 0;      // per channel
    std::uint32_t length = 0;       // bytes, header and padding slot included
    bool crc = false;               // a 16-bit CRC follows the header
    std::uint32_t side_info = 0;    // layer III side information bytes; 0 for layer II
};

// Fills h from the first four bytes of a frame. Returns null when they make
// a frame this decoder can walk, else why not.
const char* parse_mpeg_frame_header(const std::uint8_t* bytes, MpegFrameHeader& h);

// True when the frame (h.length bytes, h its header) is a Xing or "Info"
// tag frame, as LAME writes one first: layer III, its side information all
// zero, then "Xing" or "Info". It holds metadata, no audio.
bool is_mpeg_tag_frame(const std::uint8_t* frame, const MpegFrameHeader& h);

// The longest frame a valid header can describe (MPEG-2.5 layer II at
// 160 kbps and 8 kHz), in bytes.
constexpr std::uint32_t kMpegMaxFrameBytes = 2881;

}  // namespace soundlib
