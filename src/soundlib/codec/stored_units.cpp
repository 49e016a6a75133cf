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
