// A Vorbis audio packet's block size lies in its first byte: the type bit,
// then the mode number, whose mode says short or long. So the answer for
// every packet of a set-up is one of 256, read off the setup header by our
// own reader: walking packets as stored needs no decoder set-up, which
// costs ten times as much to build.
#pragma once

#include <array>
#include <cstdint>

#include "soundlib/codec/vorbis/vorbis_setup.h"

namespace soundlib {

// What libvorbis's vorbis_packet_blocksize answers for a packet opening
// with each byte: the block size, OV_ENOTAUDIO or OV_EBADPACKET.
using VorbisBlocksByFirstByte = std::array<long, 256>;

// False when the setup header does not read.
bool vorbis_blocks_by_first_byte(const VorbisSetup& setup, std::uint32_t channels, VorbisBlocksByFirstByte& out);

}  // namespace soundlib
