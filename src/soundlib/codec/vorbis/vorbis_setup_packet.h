// Vorbis setup headers taken apart and put back together, far enough to
// build one from parts of others: codebooks and floors are kept as their
// exact bits, residues, mappings and modes as values (a residue's books and
// end are what a rebuild changes). Written the way libvorbis writes them, so
// a header libvorbisenc made comes back byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace soundlib {

using ByteVector = std::vector<std::uint8_t>;

// A run of bits as Vorbis packs them, lowest bit of each byte first.
struct BitString {
    ByteVector bytes;
    std::size_t bits = 0;
};

// Floor type 1, kept whole; the rest says what it is.
struct VorbisFloor {
    BitString body;      // everything after the floor type
    std::uint32_t range = 0;  // 1 << rangebits: the block half it was made for
    std::uint32_t posts = 0;  // X positions besides the two ends
    int books_used = 0;       // highest codebook number it names, plus one
};

struct VorbisResidue {
    std::uint32_t type = 0;  // 0, 1 or 2
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::uint32_t grouping = 0;  // partition size
    std::uint32_t groupbook = 0;
    std::vector<std::uint8_t> cascade;  // per partition class: which passes have a book
    std::vector<std::uint32_t> books;   // in the order they are written
};

struct VorbisMapping {
    std::vector<std::uint8_t> mux;  // submap of each channel
    std::vector<std::pair<std::uint32_t, std::uint32_t>> coupling;  // magnitude, angle
    std::vector<std::uint32_t> floor;    // per submap
    std::vector<std::uint32_t> residue;  // per submap
};

struct VorbisMode {
    std::uint32_t blockflag = 0;
    std::uint32_t windowtype = 0;
    std::uint32_t transformtype = 0;
    std::uint32_t mapping = 0;
};

struct VorbisSetupHeader {
    std::vector<BitString> books;
    std::uint32_t times = 1;  // placeholders, always zero
    std::vector<VorbisFloor> floors;
    std::vector<VorbisResidue> residues;
    std::vector<VorbisMapping> mappings;
    std::vector<VorbisMode> modes;
};

// False when the packet is not a setup header this reader knows (floor type
// 0 included), or is cut short.
bool read_vorbis_setup(const ByteVector& packet, std::uint32_t channels, VorbisSetupHeader& out);
ByteVector write_vorbis_setup(const VorbisSetupHeader& setup, std::uint32_t channels);

// The same floor with every codebook number it names raised by `shift`, as
// when its books come after others in the header. False when a number would
// pass 255 or the floor does not read.
bool shift_floor_books(VorbisFloor& floor, int shift);

}  // namespace soundlib
