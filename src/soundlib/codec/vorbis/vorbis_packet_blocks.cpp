#include "soundlib/codec/vorbis/vorbis_packet_blocks.h"

#include <vorbis/codec.h>

#include "soundlib/codec/vorbis/vorbis_setup_packet.h"

namespace soundlib {

bool vorbis_blocks_by_first_byte(const VorbisSetup& setup, std::uint32_t channels, VorbisBlocksByFirstByte& out) {
    VorbisSetupHeader header;
    if (!read_vorbis_setup(setup.packet, channels, header) || header.modes.empty()) return false;
    // As many bits for the mode as the highest mode number needs (at most
    // 6: a setup header has at most 64 modes), after the type bit.
    int mode_bits = 0;
    for (auto highest = header.modes.size() - 1; highest != 0; highest >>= 1) ++mode_bits;
    for (unsigned b = 0; b < 256; ++b) {
        if (b & 1) {
            out[b] = OV_ENOTAUDIO;
            continue;
        }
        const unsigned mode = (b >> 1) & ((1u << mode_bits) - 1);
        out[b] = mode < header.modes.size()
                     ? static_cast<long>(header.modes[mode].blockflag ? setup.block_long : setup.block_short)
                     : OV_EBADPACKET;
    }
    return true;
}

}  // namespace soundlib
