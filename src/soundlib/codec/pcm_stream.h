// Pull reads over a FrameSource: any length, at any frame, trimmed to the
// subsound's length. Units that fit whole in the caller's buffer are decoded
// straight into it; a unit cut by the read's start or end is decoded into a
// held unit, so reading on from where the last read ended never decodes
// anything twice.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "soundlib/codec/frame_source.h"

namespace soundlib {

class PcmStream {
public:
    PcmStream(std::unique_ptr<FrameSource> source, PcmFormat format, std::uint64_t total_frames);

    const PcmFormat& format() const { return format_; }
    std::uint64_t position() const { return position_; }
    std::uint64_t total_frames() const { return total_; }

    // Positions at a frame; beyond the end means at the end.
    void seek(std::uint64_t frame) { position_ = frame < total_ ? frame : total_; }

    // Delivers whole frames only. FMOD_ERR_FILE_EOF when the end of the
    // subsound came before len bytes; another non-zero result when the data
    // is damaged or ends too early (the reason is in detail()).
    FMOD_RESULT read(std::uint8_t* dst, std::size_t len, std::size_t& delivered);

    const std::string& detail() const { return detail_; }

    // Damaged units met so far and given as silence.
    const DamageReport& damage() const { return source_->damage(); }

private:
    // Seeks the source unless it stands where the stream's position is.
    void position_source();
    // Decodes forward from the source's position to the unit holding the
    // stream's position.
    FMOD_RESULT fill_unit_holding_position();
    // Decodes whole units into dst, which has room for `room` frames; the
    // frames given are added to the position.
    FMOD_RESULT decode_direct(std::uint8_t* dst, std::uint64_t room, std::uint64_t& given);
    // A decode's result, with a decode that gave nothing turned into "the
    // stored data ends here"; either failure leaves the source's state unknown.
    FMOD_RESULT check_decoded(FMOD_RESULT r, std::uint64_t frames);
    // Copies frames of the held unit from the position on; 0 when the
    // position is not in it.
    std::uint64_t copy_held(std::uint8_t* dst, std::uint64_t wanted);

    std::unique_ptr<FrameSource> source_;
    PcmFormat format_;
    std::uint32_t frame_bytes_;
    std::uint64_t total_;
    std::uint64_t position_ = 0;

    std::vector<std::uint8_t> unit_;    // the last decoded unit
    std::uint64_t unit_start_ = 0;
    std::uint32_t unit_frames_ = 0;
    std::uint64_t next_start_ = 0;      // where the source's next unit starts
    bool source_positioned_ = false;
    std::string detail_;
};

}  // namespace soundlib
