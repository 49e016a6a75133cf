// State that decoders of one bank share and keep between subsounds, such as
// set-up data that is costly to rebuild. Lives as long as the bank.
#pragma once

#include <cstdint>
#include <map>
#include <tuple>

#include "soundlib/codec/vorbis/vorbis_decoder_setup.h"
#include "soundlib/codec/vorbis/vorbis_setup_cache.h"

namespace soundlib {

struct CodecCache {
    VorbisSetupCache vorbis;  // generated Vorbis setup headers, per (channels, rate)
    VorbisDecoderSetups vorbis_decoders;  // libvorbis set up with them
    // Identification headers handed out with the packets as stored, by
    // channels, rate and setup CRC; they stay where they are while the bank lives.
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, ByteVector> vorbis_identifications;
};

}  // namespace soundlib
