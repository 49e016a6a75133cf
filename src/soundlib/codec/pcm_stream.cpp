#include "soundlib/codec/pcm_stream.h"

#include <algorithm>
#include <cstring>

namespace soundlib {

PcmStream::PcmStream(std::unique_ptr<FrameSource> source, PcmFormat format, std::uint64_t total_frames)
    : source_(std::move(source)),
      format_(format),
      frame_bytes_(format.frame_bytes()),
      total_(total_frames),
      unit_(static_cast<std::size_t>(source_->max_unit_frames()) * format.frame_bytes()) {}

void PcmStream::position_source() {
    if (!source_positioned_ || position_ != next_start_) {
        next_start_ = source_->seek(position_);
        source_positioned_ = true;
    }
}

FMOD_RESULT PcmStream::fill_unit_holding_position() {
    do {
        std::uint32_t frames = 0;
        const FMOD_RESULT r = source_->decode(unit_.data(), frames, detail_);
        frames = std::min(frames, source_->max_unit_frames());
        unit_start_ = next_start_;
        unit_frames_ = frames;
        next_start_ += frames;
        if (const FMOD_RESULT checked = check_decoded(r, frames); checked != FMOD_OK) return checked;
    } while (position_ >= next_start_);
    if (position_ < unit_start_) {  // a decoder that positioned past the frame asked for
        source_positioned_ = false;
        unit_frames_ = 0;
        detail_ = "the decoder could not position at frame " + std::to_string(position_);
        return FMOD_ERR_INTERNAL;
    }
    return FMOD_OK;
}

std::uint64_t PcmStream::copy_held(std::uint8_t* dst, std::uint64_t wanted) {
    if (position_ < unit_start_ || position_ >= unit_start_ + unit_frames_) return 0;
    const std::uint64_t n = std::min({wanted, unit_start_ + unit_frames_ - position_, total_ - position_});
    std::memcpy(dst, unit_.data() + (position_ - unit_start_) * frame_bytes_, n * frame_bytes_);
    position_ += n;
    return n;
}

FMOD_RESULT PcmStream::decode_direct(std::uint8_t* dst, std::uint64_t room, std::uint64_t& given) {
    std::uint32_t frames = 0;
    const auto max_frames = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, UINT32_MAX));
    const FMOD_RESULT r = source_->decode_up_to(dst, max_frames, frames, detail_);
    given = std::min<std::uint64_t>(frames, max_frames);
    next_start_ += given;
    position_ += given;
    return check_decoded(r, given);
}

FMOD_RESULT PcmStream::check_decoded(FMOD_RESULT r, std::uint64_t frames) {
    if (r == FMOD_OK && frames > 0) return FMOD_OK;
    source_positioned_ = false;
    if (r != FMOD_OK) return r;
    detail_ = "the stored data ends at frame " + std::to_string(next_start_) + " of " + std::to_string(total_);
    return FMOD_ERR_FILE_BAD;
}

FMOD_RESULT PcmStream::read(std::uint8_t* dst, std::size_t len, std::size_t& delivered) {
    delivered = 0;
    if (frame_bytes_ == 0) return FMOD_OK;
    std::uint64_t wanted = len / frame_bytes_;
    while (wanted > 0) {
        if (position_ >= total_) return FMOD_ERR_FILE_EOF;
        std::uint64_t n = copy_held(dst + delivered, wanted);
        if (n == 0) {
            position_source();
            const std::uint64_t room = std::min(wanted, total_ - position_);
            if (next_start_ == position_ && room >= source_->max_unit_frames()) {
                const FMOD_RESULT r = decode_direct(dst + delivered, room, n);
                delivered += n * frame_bytes_;
                wanted -= n;
                if (r != FMOD_OK) return r;
                continue;
            }
            const FMOD_RESULT r = fill_unit_holding_position();
            if (r != FMOD_OK) {
                // Still give what the damaged unit decoded before the damage.
                delivered += copy_held(dst + delivered, wanted) * frame_bytes_;
                unit_frames_ = 0;
                return r;
            }
            n = copy_held(dst + delivered, wanted);
        }
        delivered += n * frame_bytes_;
        wanted -= n;
    }
    return FMOD_OK;
}

}  // namespace soundlib
