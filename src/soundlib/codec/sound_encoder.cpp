#include "soundlib/codec/sound_encoder.h"

#include "soundlib/codec/adpcm/fadpcm_encoder.h"
#include "soundlib/codec/adpcm/gc_adpcm_encoder.h"
#include "soundlib/codec/adpcm/ima_adpcm_encoder.h"
#include "soundlib/codec/mpeg/mpeg_encoder.h"
#include "soundlib/codec/pcm/pcm_encoder.h"
#include "soundlib/codec/adpcm/vag_encoder.h"
#include "soundlib/codec/vorbis/vorbis_encoder.h"

namespace soundlib {

std::unique_ptr<SoundEncoder> make_sound_encoder(const EncodeTarget& target, std::string& why) {
    if (target.channels == 0) {
        why = "no channels";
        return nullptr;
    }
    if (is_pcm_codec(target.codec)) return make_pcm_encoder(target);
    switch (target.codec) {
        case Codec::imaadpcm: return make_ima_adpcm_encoder(target);
        case Codec::gcadpcm: return make_gc_adpcm_encoder(target);
        case Codec::vag: return make_vag_encoder(target);
        case Codec::fadpcm: return make_fadpcm_encoder(target);
        case Codec::vorbis: return make_vorbis_encoder(target, why);
        case Codec::mpeg: return make_mpeg_encoder(target, why);
        default: break;
    }
    why = std::string("replacing ") + codec_name(target.codec) +
          " sounds is not built (PCM, IMA ADPCM, GC DSP ADPCM, PS ADPCM, FADPCM, MPEG and Vorbis sounds only)";
    return nullptr;
}

}  // namespace soundlib
