// The core every decoder implements: a subsound's audio, one unit (a block,
// a frame, a packet) at a time, from a unit boundary it chooses.
//
// PcmStream (pcm_stream.h) turns this into reads of any length at any frame,
// trimmed to the subsound's length; decoders only ever deal in whole units,
// which go straight into the caller's buffer when they fit there.
#pragma once

#include <cstdint>
#include <string>

#include "soundlib/soundlib.h"

namespace soundlib {

// What a read delivers: interleaved frames of `channels` samples.
struct PcmFormat {
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_PCM16;
    int bits = 16;
    std::uint32_t channels = 1;

    std::uint32_t frame_bytes() const { return channels * static_cast<std::uint32_t>(bits / 8); }
};

class FrameSource {
public:
    virtual ~FrameSource() = default;

    // The most frames one decode() gives.
    virtual std::uint32_t max_unit_frames() const = 0;

    // Makes the next decode() give the unit holding `frame`, or an earlier
    // one from which decoding forward reaches it (a decoder whose state
    // runs on from block to block may go back to the start). Returns the
    // first frame of the unit decode() gives next; never more than `frame`.
    virtual std::uint64_t seek(std::uint64_t frame) = 0;

    // Decodes the next unit into out, which has room for max_unit_frames()
    // frames. frames = 0 with FMOD_OK: the stored data holds no more. On
    // damaged data: a non-zero result and the reason in detail; the frames
    // decoded before the damage may still be given.
    virtual FMOD_RESULT decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) = 0;

    // As decode(), into out with room for max_frames >= max_unit_frames()
    // frames. A source whose units can end anywhere (stored PCM) may give up
    // to max_frames at once; the others give one unit.
    virtual FMOD_RESULT decode_up_to(std::uint8_t* out, std::uint32_t max_frames, std::uint32_t& frames,
                                     std::string& detail) {
        (void)max_frames;
        return decode(out, frames, detail);
    }
};

}  // namespace soundlib
