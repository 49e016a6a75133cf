// Long blocks for a libvorbisenc set-up that has one block size: the
// layout the phone encoder writes at 15 to 26 kHz below quality 0.05
// (vorbis_setup.h). libvorbis's analysis takes a block's mode number from
// its size flag and the mapping of the same number (mapping0_forward), and
// the psychoacoustics of blocks 2 and 3 for long ones; so a second mode and
// mapping for the long blocks, with their floor and residue, and those two
// psychoacoustic set-ups are all it needs to encode with two block sizes.
#pragma once

#include <vorbis/codec.h>

#include <cstdint>
#include <memory>

#include "soundlib/codec/vorbis/vorbis_libvorbis_137.h"

namespace soundlib {

// What is added, owned here: libvorbis frees none of it.
struct VorbisLongBlocks {
    vorbis_info next_band{};  // where residue 1 and its books come from
    libvorbis137::Mode mode{};
    libvorbis137::Mapping0 mapping{};
    libvorbis137::Residue0 residue{};
    libvorbis137::Psy psy[2]{};
    int modes = 0, maps = 0, residues = 0, books = 0, psys = 0;  // as they were
    VorbisLongBlocks() = default;
    VorbisLongBlocks(const VorbisLongBlocks&) = delete;
    VorbisLongBlocks& operator=(const VorbisLongBlocks&) = delete;
    ~VorbisLongBlocks() { vorbis_info_clear(&next_band); }
};

// Adds to `vi` (libvorbisenc's, one mode, one mapping, one residue, at
// the block size both its sizes have) a mode and mapping 1 for long blocks,
// with floor 1 and a residue 1 that is the first residue of libvorbisenc's
// set-up at quality 0.25 for the same channels and rate (its books after
// all others), and long-block psychoacoustics like the short blocks'; the
// lowpass bins are moved to the new block sizes, which the caller sets.
// Null, `vi` as it was, when the set-up is not of that shape.
std::unique_ptr<VorbisLongBlocks> add_vorbis_long_blocks(vorbis_info& vi, std::uint32_t channels, std::uint32_t rate,
                                                         long block_short, long block_long);

// Puts back the counts so libvorbis frees only what it made; after the
// encoder state on `vi` is cleared.
void remove_vorbis_long_blocks(vorbis_info& vi, VorbisLongBlocks& added);

}  // namespace soundlib
