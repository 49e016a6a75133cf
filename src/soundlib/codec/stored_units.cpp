#include "soundlib/codec/stored_units.h"

#include "soundlib/codec/mpeg/mpeg_stored.h"
#include "soundlib/codec/vorbis/vorbis_packets.h"

namespace soundlib {

StoredKind stored_kind(const SubsoundInfo& info, const char** why_not) {
    if (why_not) *why_not = "";
    if (info.problem) return StoredKind::none;
    switch (info.codec) {
        case Codec::vorbis: return StoredKind::vorbis;
        case Codec::mpeg:
            if (info.channels <= 2) return StoredKind::mpeg;
            if (why_not) *why_not = "its MPEG data is several interleaved streams (more than two channels), which no .mp3 file holds";
            return StoredKind::none;
        default: return StoredKind::none;
    }
}

FMOD_RESULT StoredUnits::next_batch(std::uint8_t* out, std::size_t room, std::uint32_t* sizes, std::uint32_t* frames,
                                    std::size_t most, std::size_t& count, std::string& detail) {
    count = 0;
    if (held_code_ != FMOD_OK) {
        const FMOD_RESULT code = held_code_;
        held_code_ = FMOD_OK;
        detail = std::move(held_detail_);
        held_detail_.clear();
        return code;
    }
    std::size_t used = 0;
    // A run reads ahead of the units it takes: worth it for many, not one.
    if (most > 1) {
        count = run_of_units(out, room, sizes, frames, most, used);
        given_ += count;
    }
    while (count < most) {
        std::size_t bytes = 0;
        std::uint32_t unit_frames = 0;
        std::string why;
        const FMOD_RESULT r = next(out + used, room - used, bytes, unit_frames, why);
        if (r == FMOD_OK) {
            sizes[count] = static_cast<std::uint32_t>(bytes);
            frames[count] = unit_frames;
            used += bytes;
            ++count;
            continue;
        }
        if (count == 0) {
            if (r == FMOD_ERR_INVALID_PARAM) sizes[0] = static_cast<std::uint32_t>(bytes);
            detail = std::move(why);
            return r;
        }
        // The end, or a unit that does not fit, comes again on the next
        // call; an error might not, so it is kept.
        if (r != FMOD_ERR_FILE_EOF && r != FMOD_ERR_INVALID_PARAM) {
            held_code_ = r;
            held_detail_ = std::move(why);
        }
        break;
    }
    return FMOD_OK;
}

StoredChoice make_stored_units(const SubsoundInfo& info, BankFile& file, CodecCache& cache) {
    StoredChoice choice;
    if (info.problem) {
        choice.code = FMOD_ERR_FILE_BAD;
        choice.detail = info.problem;
        return choice;
    }
    switch (stored_kind(info, nullptr)) {
        case StoredKind::vorbis: return make_vorbis_packets(info, file, cache);
        case StoredKind::mpeg: return make_mpeg_stored(info, file);
        case StoredKind::none: break;
    }
    choice.code = FMOD_ERR_FORMAT;
    choice.detail = std::string("the ") + codec_name(info.codec) + " data of this subsound is not handed out as stored";
    return choice;
}

}  // namespace soundlib
