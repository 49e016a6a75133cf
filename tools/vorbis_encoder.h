// Real Vorbis packets for test, bench and fuzz banks, from stock
// libvorbisenc, in the form FSB5 banks store them.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "bank_writer.h"

namespace bankwriter {

struct VorbisEncoding {
    Bytes setup;                             // the set-up packet, which banks leave out
    std::vector<Bytes> packets;              // the audio packets
    std::vector<std::uint32_t> block_sizes;  // of each audio packet
};

// Encodes `frames` of sample(channel, frame) (in -1..1) at libvorbisenc's
// `quality` (-0.1..1). False when libvorbisenc refuses the set-up.
bool encode_vorbis(std::uint32_t channels, std::uint32_t rate, float quality, std::uint32_t frames,
                   const std::function<float(std::uint32_t, std::uint32_t)>& sample, VorbisEncoding& out);

// Packets as a bank stores them: each after its u16 little-endian length.
Bytes vorbis_packet_data(const std::vector<Bytes>& packets);

// FSB5 chunk 11: the set-up packet's CRC and a seek table of one entry.
Bytes vorbis_setup_chunk(std::uint32_t crc);

}  // namespace bankwriter
