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

// Units (blocks, frames, packets) found damaged and given as silence of
// their length, so that the rest of the sound is still decoded.
struct DamageReport {
    std::uint64_t units = 0;
    const char* unit_name = "units";  // plural, as in "3 damaged blocks"
    std::string first;                // what was wrong with the first one
};

class FrameSource {
public:
    virtual ~FrameSource() = default;

    // Damage met so far, each unit counted once as the data is read from its
    // start, however often it is decoded again after seeks.
    const DamageReport& damage() const { return damage_; }

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

protected:
    // Called for the units decoded, `count` of them from `first`, all whole
    // or all damaged; counts those of the run from the start not counted yet.
    void account(std::uint64_t first, std::uint64_t count, bool damaged, const std::string& what = {}) {
        if (accounted_ < first || accounted_ >= first + count) return;
        const std::uint64_t fresh = first + count - accounted_;
        accounted_ = first + count;
        if (!damaged) return;
        if (damage_.units == 0) damage_.first = what;
        damage_.units += fresh;
    }
    DamageReport damage_;

private:
    std::uint64_t accounted_ = 0;  // units of the run from the start looked at
};

}  // namespace soundlib
