#include "soundlib/bank/subsound_info.h"

namespace soundlib {

const char* codec_name(Codec codec) {
    switch (codec) {
        case Codec::pcm8: return "PCM8";
        case Codec::pcm16: return "PCM16";
        case Codec::pcm24: return "PCM24";
        case Codec::pcm32: return "PCM32";
        case Codec::pcmfloat: return "PCM float";
        case Codec::gcadpcm: return "GC DSP ADPCM";
        case Codec::imaadpcm: return "IMA ADPCM";
        case Codec::vag: return "PS ADPCM (VAG)";
        case Codec::hevag: return "HEVAG";
        case Codec::xma: return "XMA";
        case Codec::mpeg: return "MPEG";
        case Codec::celt: return "CELT";
        case Codec::atrac9: return "ATRAC9";
        case Codec::xwma: return "XWMA";
        case Codec::vorbis: return "Vorbis";
        case Codec::fadpcm: return "FADPCM";
        case Codec::opus: return "Opus";
        case Codec::unknown: break;
    }
    return "unknown";
}

const char* codec_short_name(Codec codec) {
    switch (codec) {
        case Codec::pcm8: return "PCM8";
        case Codec::pcm16: return "PCM16";
        case Codec::pcm24: return "PCM24";
        case Codec::pcm32: return "PCM32";
        case Codec::pcmfloat: return "PCMFLOAT";
        case Codec::gcadpcm: return "GCADPCM";
        case Codec::imaadpcm: return "IMAADPCM";
        case Codec::vag: return "VAG";
        case Codec::hevag: return "HEVAG";
        case Codec::xma: return "XMA";
        case Codec::mpeg: return "MPEG";
        case Codec::celt: return "CELT";
        case Codec::atrac9: return "ATRAC9";
        case Codec::xwma: return "XWMA";
        case Codec::vorbis: return "VORBIS";
        case Codec::fadpcm: return "FADPCM";
        case Codec::opus: return "OPUS";
        case Codec::unknown: break;
    }
    return "UNKNOWN";
}

}  // namespace soundlib
