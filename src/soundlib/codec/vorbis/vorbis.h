// FSB5 Vorbis: raw Vorbis audio packets, each after a u16 little-endian
// length, with the three header packets rebuilt (vorbis_setup.h) and the
// audio decoded by libvorbis into interleaved 16-bit PCM.
#pragma once

#include <memory>

#include "soundlib/codec/decoder_factory.h"
#include "soundlib/codec/vorbis/vorbis_decoder_setup.h"

namespace soundlib {

// The subsound's rebuilt setup header, found by its CRC, and (when asked
// for: it costs more than finding the header) libvorbis set up with it;
// null, with the code and the reason, when there is none.
struct VorbisSetupFound {
    const VorbisSetup* setup = nullptr;  // lives as long as the cache
    std::shared_ptr<const VorbisDecoderSetup> decoder;
};
VorbisSetupFound find_vorbis_setup(const SubsoundInfo& info, BankFile& file, CodecCache& cache, FMOD_RESULT& code,
                                   std::string& detail, bool with_decoder);

// Fails with FMOD_ERR_FORMAT when no generated setup header matches the
// subsound's setup CRC.
DecoderChoice make_vorbis_decoder(const SubsoundInfo& info, BankFile& file, CodecCache& cache);

// libvorbis float to 16-bit as the reference decodes do it: x * 32767
// truncated toward zero, then clamped to the 16-bit range.
std::int16_t vorbis_float_to_s16(float x);

}  // namespace soundlib
