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
    // What handing out the packets as stored takes of a set-up, by
    // channels, rate and setup CRC: the identification header that goes
    // with it and the block size of a packet by its first byte. They stay
    // where they are as long as the cache.
    struct VorbisStored {
        ByteVector identification;
        VorbisBlocksByFirstByte blocks;
    };
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, VorbisStored> vorbis_stored;
};

}  // namespace soundlib
