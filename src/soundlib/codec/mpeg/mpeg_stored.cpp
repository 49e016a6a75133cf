#include "soundlib/codec/mpeg/mpeg_stored.h"

#include <algorithm>
#include <optional>

#include "soundlib/codec/mpeg/mpeg_frames.h"

namespace soundlib {

namespace {

class MpegStored final : public StoredUnits {
public:
    MpegStored(const SubsoundInfo& info, BankFile& file) : info_(info), file_(&file), walk_(info, file) {
        damage_.unit_name = "frames";
    }

    FMOD_RESULT next(std::uint8_t* out, std::size_t room, std::size_t& bytes, std::uint32_t& frames,
                     std::string& detail) override {
        bytes = 0;
        frames = 0;
        if (ended_) return FMOD_ERR_FILE_EOF;
        if (!pending_) {
            MpegFrameSpan f;
            const bool more = walk_.next(f);
            note_damage();
            if (!more) return end_of_frames(detail);
            // Where the frame's samples start: every unit before it counts,
            // those lost to damage too, as in the decoded sound.
            if ((walk_.units_passed() - 1) * walk_.layout().samples >= info_.frames) {
                ended_ = true;
                return FMOD_ERR_FILE_EOF;
            }
            pending_ = f;
        }
        if (pending_->size > room) {
            bytes = pending_->size;
            return FMOD_ERR_INVALID_PARAM;
        }
        const DataRange data{file_, info_.data.offset, info_.data.size};
        if (data.read_at(pending_->offset, out, pending_->size) != pending_->size) {
            detail = "the bank file could not be read at offset " + std::to_string(data.offset + pending_->offset);
            return FMOD_ERR_FILE_BAD;
        }
        bytes = pending_->size;
        frames = walk_.layout().samples;
        pending_.reset();
        ++given_;
        return FMOD_OK;
    }

    void restart() override {
        walk_ = MpegFrameWalk(info_, *file_);
        pending_.reset();
        ended_ = false;
        given_ = 0;
    }

    std::uint64_t frames_held() override {
        MpegFrameWalk walk(info_, *file_);
        std::uint64_t held = 0;
        for (MpegFrameSpan f; held < info_.frames && walk.next(f);) {
            if ((walk.units_passed() - 1) * walk.layout().samples >= info_.frames) break;
            held += walk.layout().samples;
        }
        return std::min<std::uint64_t>(held, info_.frames);
    }

protected:
    // A clean run of frames read at once, up to the one that reaches the
    // sound's length (as next() counts it: a frame is given while the
    // frames before it fall short of the length).
    std::size_t run_of_units(std::uint8_t* out, std::size_t room, std::uint32_t* sizes, std::uint32_t* frames,
                             std::size_t most, std::size_t& used) override {
        used = 0;
        const std::uint64_t samples = walk_.layout().samples;
        if (ended_ || samples == 0) return 0;
        std::size_t count = 0;
        // The frame the last batch had no room for comes first.
        if (pending_) {
            const DataRange data{file_, info_.data.offset, info_.data.size};
            if (pending_->size > room || data.read_at(pending_->offset, out, pending_->size) != pending_->size) return 0;
            sizes[0] = pending_->size;
            used = pending_->size;
            pending_.reset();
            count = 1;
        }
        const std::uint64_t allowed_units = (std::uint64_t{info_.frames} + samples - 1) / samples;
        if (walk_.units_passed() < allowed_units && count < most) {
            const std::size_t run_most =
                static_cast<std::size_t>(std::min<std::uint64_t>(most - count, allowed_units - walk_.units_passed()));
            std::size_t run_used = 0;
            count += walk_.clean_run(out + used, room - used, sizes + count, run_most, run_used);
            used += run_used;
        }
        for (std::size_t i = 0; i < count; ++i) frames[i] = static_cast<std::uint32_t>(samples);
        return count;
    }

private:
    // The walk counts each damaged stretch once from the start; after a
    // restart it counts them again.
    void note_damage() {
        if (walk_.damaged_units() <= damage_.units) return;
        damage_.units = walk_.damaged_units();
        damage_.first = walk_.first_damage();
    }

    // No frame is left: short of the sound's length, that is reported as
    // the decoder reports it (a sound opening with a tag frame counts one
    // unit of silence more at its end).
    FMOD_RESULT end_of_frames(std::string& detail) {
        ended_ = true;
        if (!walk_.problem().empty()) {
            detail = walk_.problem();
            return FMOD_ERR_FILE_BAD;
        }
        const std::uint64_t units = walk_.units_passed() + (walk_.layout().tagged ? 1 : 0);
        const std::uint64_t reached = units * walk_.layout().samples;
        if (reached >= info_.frames) return FMOD_ERR_FILE_EOF;
        detail = "the stored data ends at frame " + std::to_string(reached) + " of " + std::to_string(info_.frames);
        return FMOD_ERR_FILE_BAD;
    }

    SubsoundInfo info_;
    BankFile* file_;
    MpegFrameWalk walk_;
    std::optional<MpegFrameSpan> pending_;  // walked, not yet given (it did not fit)
    bool ended_ = false;
};

}  // namespace

StoredChoice make_mpeg_stored(const SubsoundInfo& info, BankFile& file) {
    StoredChoice choice;
    choice.units = std::make_unique<MpegStored>(info, file);
    return choice;
}

}  // namespace soundlib
