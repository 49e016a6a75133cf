// Where the frames of an MPEG subsound lie in its data. Frames are walked by
// their headers, never by searching for sync words (padding may hold bytes
// that look like one), so the walk must know how far the bank pads each
// frame; that is learned from the sound's own first frames, since banks of
// one family do not all pad alike. A first frame that is a Xing or "Info"
// tag (written by LAME) is metadata, not audio: the sound starts after it.
//
// More than two channels are several streams interleaved frame by frame; a
// unit is one frame of every stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/soundlib.h"

namespace soundlib {

// The paddings a walk considers: each frame is followed by padding up to a
// multiple of one of these, counted from the start of the subsound's data
// (1: back to back).
inline constexpr std::uint32_t kMpegPaddings[] = {1, 2, 4, 8, 16, 32};

// What the frames of one subsound share, from its first frames.
struct MpegLayout {
    int version = 0;                 // as in MpegFrameHeader
    int layer = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t samples = 0;       // per frame and channel
    std::uint32_t padding = 1;       // one of kMpegPaddings
    std::uint64_t first_frame = 0;   // the first frame header (past any damage before it)
    std::uint64_t sound_start = 0;   // where the sound's first unit starts: past a Xing/Info tag
    bool tagged = false;             // the data opens with a Xing/Info tag
    std::uint64_t unit_bytes = 1;    // what a unit takes in the data, for measuring damage
};

// The channels of each stream of a subsound of `channels`: stereo streams,
// the last one mono for an odd count.
std::vector<std::uint32_t> mpeg_stream_channels(std::uint32_t channels);

class MpegFrames {
public:
    // `rate` 0: the first frame's. `padding_hint`: what the bank's family
    // says, taken when the stream cannot tell.
    MpegFrames(DataRange data, std::uint32_t channels, std::uint32_t rate, std::uint32_t padding_hint);

    // Learns the layout from the first frames. Looked for once: a subsound
    // without a frame is not searched again on every read.
    FMOD_RESULT learn(std::string& detail);
    const MpegLayout& layout() const { return layout_; }
    std::size_t streams() const { return stream_channels_.size(); }
    std::uint32_t stream_channels(std::size_t s) const { return stream_channels_[s]; }
    const DataRange& data() const { return data_; }

    // Reads and checks the header at pos as a frame of stream s, and with
    // `body` (kMpegMaxFrameBytes of room) the whole frame into it.
    FMOD_RESULT read_frame(std::uint64_t pos, std::size_t s, MpegFrameHeader& h, std::uint8_t* body,
                           std::string& detail);

    // Where the next frame stands after the frame of `length` bytes at pos.
    std::uint64_t after(std::uint64_t pos, std::uint32_t length) const {
        const std::uint64_t end = pos + length;
        return (end + layout_.padding - 1) / layout_.padding * layout_.padding;
    }

    // One unit as the walk finds it.
    struct Unit {
        std::uint64_t frames_at = 0;  // where its frames start, past any damage
        bool silent = false;          // it stands for frames lost to damage
        std::uint32_t main = 0;       // the least layer III main data of its frames
        std::string damage;           // what was wrong, when anything was
    };

    // Steps pos over one unit. Where the headers do not read right, the
    // damage runs to the next place where a unit does (resync); it stands
    // for as many lost units as fit in it, each given as silence, and damage
    // shorter than half a unit is only passed over. FMOD_ERR_FILE_EOF at the
    // end of the data; in a sound opening with a tag frame, the end of its
    // frames (the data's end, or nothing but zero bytes) is first one unit
    // of silence more, without damage, as the bank's length counts the tag.
    FMOD_RESULT step(std::uint64_t& pos, Unit* unit);

    // step() for a sound of one stream, where the unit at pos reads right:
    // its frame's length, and pos stepped over it. False, with nothing
    // changed, for anything else (step() then says what).
    bool step_clean(std::uint64_t& pos, std::uint32_t& length);
    // The frame length of the header at `head` when it is one step_clean()
    // takes (of this sound's layer, version, rate and first stream's
    // channels), else 0. Its frame may still run past the data.
    std::uint32_t clean_length(const std::uint8_t* head);

    // The lengths of the frames of the unit the last step() found, by
    // stream (when it was not silent).
    const std::vector<std::uint32_t>& unit_lengths() const { return unit_lengths_; }

    // True when nothing but zero bytes is left from pos to the end.
    bool only_zeros_from(std::uint64_t pos);

    std::string where(std::uint64_t pos) const;

private:
    static constexpr std::uint64_t kPastTheData = UINT64_MAX;

    FMOD_RESULT find_layout(std::string& detail);
    bool find_first_frame(std::uint64_t& first, MpegFrameHeader& h, std::string& detail);
    bool ends_after(std::uint64_t end, std::uint32_t padding);
    std::uint32_t learn_padding(std::uint64_t first);
    std::uint32_t links(std::uint64_t first, std::uint32_t padding);
    bool tag_unit(std::uint64_t pos, std::uint64_t& next);
    bool unit_headers(std::uint64_t& pos, std::uint32_t* main, std::string& detail);
    std::uint64_t resync(std::uint64_t from, std::uint64_t limit);

    DataRange data_;
    std::vector<std::uint32_t> stream_channels_;
    std::uint32_t rate_;
    std::uint32_t padding_hint_;
    MpegLayout layout_;
    bool tried_ = false;
    bool learned_ = false;
    std::string problem_;  // why no layout was found

    std::uint64_t resync_from_ = 1;  // the last resync's question and answer
    std::uint64_t resync_to_ = 0;
    bool zeros_known_ = false;
    std::uint64_t zeros_start_ = 0;  // the zero bytes at the end of the data start here
    std::vector<std::uint8_t> frame_;  // a frame looked into
    std::uint8_t clean_head_[4] = {};  // the last header step_clean() took, and its frame's length
    std::uint32_t clean_length_ = 0;
    std::vector<std::uint32_t> unit_lengths_;
};

// One frame as stored: where it starts in the subsound's data, its length
// (its padding left out) and the stream it belongs to.
struct MpegFrameSpan {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t stream = 0;
};

// The frames of an MPEG subsound as stored, in order: padding dropped, a
// first Xing/Info frame left out, damage passed over (and counted).
class MpegFrameWalk {
public:
    MpegFrameWalk(const SubsoundInfo& info, BankFile& file);

    // The next frame; false at the end of the frames, or when the data holds
    // none that can be walked (problem() then says why).
    bool next(MpegFrameSpan& frame);

    // The frames next() would give, at most `most` of them, read straight
    // into out (room bytes) and back to back there, their lengths in
    // sizes[]; `used` their bytes. Only frames of a clean run of one stream
    // within one read: it stops before anything else (damage, the end, a
    // frame past what fits), which next() then takes up.
    std::size_t clean_run(std::uint8_t* out, std::size_t room, std::uint32_t* sizes, std::size_t most,
                          std::size_t& used);

    const std::string& problem() const { return problem_; }
    const MpegLayout& layout() const { return frames_.layout(); }
    // Units stepped over so far, the one of the last frame given included:
    // those lost to damage count, as the decoder gives silence for them.
    std::uint64_t units_passed() const { return units_; }
    std::uint64_t damaged_units() const { return damaged_; }
    const std::string& first_damage() const { return first_damage_; }

private:
    MpegFrames frames_;
    bool started_ = false;
    bool failed_ = false;
    std::string problem_;
    std::uint64_t pos_ = 0;
    std::vector<MpegFrameSpan> unit_;
    std::size_t taken_ = 0;
    std::uint64_t units_ = 0;
    std::uint64_t damaged_ = 0;
    std::string first_damage_;
};

}  // namespace soundlib
