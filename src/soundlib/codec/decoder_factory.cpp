#include "soundlib/codec/decoder_factory.h"

#include "soundlib/codec/adpcm/fadpcm.h"
#include "soundlib/codec/adpcm/gc_adpcm.h"
#include "soundlib/codec/adpcm/ima_adpcm.h"
#include "soundlib/codec/mpeg/mpeg.h"
#include "soundlib/codec/pcm/pcm_source.h"
#include "soundlib/codec/adpcm/vag.h"
#include "soundlib/codec/vorbis/vorbis.h"

namespace soundlib {

PcmFormat output_format(const SubsoundInfo& info) { return pcm_output_format(info); }

DecoderChoice make_decoder(const SubsoundInfo& info, BankFile& file, CodecCache& cache) {
    DecoderChoice choice;
    if (info.problem) {
        choice.code = FMOD_ERR_FILE_BAD;
        choice.detail = info.problem;
        return choice;
    }
    switch (info.codec) {
        case Codec::pcm8:
        case Codec::pcm16:
        case Codec::pcm24:
        case Codec::pcm32:
        case Codec::pcmfloat: choice.source = make_pcm_source(info, file); break;
        case Codec::imaadpcm: choice.source = make_ima_adpcm_source(info, file); break;
        case Codec::vag: choice.source = make_vag_source(info, file); break;
        case Codec::fadpcm: choice.source = make_fadpcm_source(info, file); break;
        case Codec::mpeg: choice.source = make_mpeg_source(info, file); break;
        case Codec::gcadpcm:
            choice.source = make_gc_adpcm_source(info, file, choice.detail);
            if (!choice.source) choice.code = FMOD_ERR_FILE_BAD;
            break;
        case Codec::vorbis: return make_vorbis_decoder(info, file, cache);
        default:
            choice.code = FMOD_ERR_FORMAT;
            choice.detail = std::string("codec ") + codec_name(info.codec) + " is not decoded by this version";
            break;
    }
    return choice;
}

}  // namespace soundlib
