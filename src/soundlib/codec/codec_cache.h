// State that decoders share and keep between subsounds, such as set-up data
// that is costly to rebuild. The system object holds one for every bank it
// opens, so a run makes each thing once, and searches that failed are not
// made again; a bank opened on its own (in tests) has its own.
//
// Made once and then only read: the lock is held while something is looked
// up or made, and what comes out (a rebuilt setup header, libvorbis's decoder
// set-up) is shared read-only by decoders on any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>

#include "soundlib/codec/vorbis/vorbis_decoder_setup.h"
#include "soundlib/codec/vorbis/vorbis_packet_blocks.h"
#include "soundlib/codec/vorbis/vorbis_setup_cache.h"

namespace soundlib {

struct CodecCache {
    std::mutex lock;  // over everything below
    VorbisSetupCache vorbis;  // generated Vorbis setup headers, per (channels, rate)
    VorbisDecoderSetups vorbis_decoders;  // libvorbis set up with them
    // Identification headers handed out with the packets as stored, by
    // channels, rate and setup CRC; they stay where they are as long as the cache.
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, ByteVector> vorbis_identifications;
    // And each set-up's block size of a packet by its first byte (the
    // modes'), likewise.
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, VorbisBlocksByFirstByte> vorbis_packet_blocks;
};

}  // namespace soundlib
