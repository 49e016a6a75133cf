#include "soundlib/bank/loop_rule.h"

namespace soundlib {

namespace {

constexpr std::uint32_t kLoopOff = 0x01;
constexpr std::uint32_t kLoopNormal = 0x02;
// An MPEG sound's stored length runs up to a frame past its loop end.
constexpr std::uint64_t kMpegFrameSlack = 1152;

bool valid_range(const SubsoundInfo& s) {
    return s.loop_start <= s.loop_end && std::uint64_t{s.loop_end} + 1 <= s.frames;
}

// The range covers the sound, give or take `slack` frames at the end.
bool whole_sound(const SubsoundInfo& s, std::uint64_t slack) {
    return s.loop_start == 0 && s.frames - (std::uint64_t{s.loop_end} + 1) <= slack;
}

}  // namespace

bool fsb4_sound_loops(const SubsoundInfo& s, std::uint32_t mode_flags, bool basic_header) {
    if (basic_header || (mode_flags & kLoopOff) || s.loop_end == 0 || !valid_range(s)) return false;
    if (mode_flags & kLoopNormal) return true;
    // Without the flag, a range short of the whole sound is deliberate; the
    // whole sound counts as a loop only for long sounds (music).
    const std::uint64_t slack = s.codec == Codec::mpeg ? kMpegFrameSlack : 0;
    if (!whole_sound(s, slack)) return true;
    return s.frames >= 20ull * s.frequency;
}

bool fsb5_sound_loops(const SubsoundInfo& s, bool has_loop_chunk) {
    return has_loop_chunk && valid_range(s) && !whole_sound(s, kMpegFrameSlack);
}

}  // namespace soundlib
