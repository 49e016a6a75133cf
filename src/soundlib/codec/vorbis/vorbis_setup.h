// The Vorbis headers a bank leaves out. FSB5 stores only audio packets and,
// in place of the setup header, its CRC-32; the setup header itself is what
// libvorbisenc (stock, or a variant we rebuild from stock parts) writes for
// the subsound's channels, rate and one of 100 quality steps, so we generate
// those and keep the one whose CRC matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace soundlib {

using ByteVector = std::vector<std::uint8_t>;

// CRC-32 as zlib computes it (reflected, polynomial 0xEDB88320, inverted in
// and out): the variant the banks' setup CRCs use.
std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

// The encoders whose set-ups we rebuild. Besides stock libvorbisenc, one
// encoder that makes smaller blocks than stock, with floors sized for them
// and the rest of its set-up stock. Where libvorbisenc's template has two
// block sizes other than 256/2048 (512/4096 from 26 kHz up below quality 0,
// 512/1024 from 15 to 26 kHz at quality 0.05 and up) it forces 256/2048;
// where the template has one block size (512 at 11 kHz and below, 1024
// from 15 to 26 kHz below quality 0.05) it forces 256.
//
// Phone builds come from another version of it, which differs in two
// places. At 15 to 26 kHz: below quality 0.05 it forces 256/2048 too
// (floors 128 x 4 and 1024 x 27; the long blocks get the residue
// libvorbisenc finds one entry past the template's only one), and from
// quality 0.5 up its short blocks get the 128 x 11 floor. Above 44.1 kHz:
// its lowpass stops at 22.05 kHz, so where libvorbisenc's is higher
// (quality 0.51 and up) the residues end there.
enum class VorbisVariant : std::uint8_t { stock = 0, blocks_256_2048 = 1, blocks_256 = 2, phone = 3 };

// A generated setup header and the block sizes of the encoder set-up that
// produced it (the identification header must carry the same ones).
struct VorbisSetup {
    std::uint32_t crc = 0;
    int quality = 0;  // 1..100, the step that produced this header
    VorbisVariant variant{};
    std::uint32_t block_short = 0;
    std::uint32_t block_long = 0;
    ByteVector packet;
};

// Identification header for these channels, rate and block sizes (powers of
// two, 64..8192), no bitrates.
ByteVector vorbis_identification_header(std::uint32_t channels, std::uint32_t rate, std::uint32_t block_short,
                                        std::uint32_t block_long);
// Comment header with an empty vendor string and no comments.
ByteVector vorbis_comment_header();

// libvorbisenc's quality (-0.1..1.0) for a step of 1..100.
float vorbis_quality_for_step(int step);

// The i-th step (0..99) a search tries: from the middle outwards, where the
// banks we know were made (steps 48 to 50); every step once.
int vorbis_step_in_search_order(int i);

// The set-ups of one step: the stock one, then each variant's where it
// differs from the ones before. Empty when libvorbisenc refuses the
// channels and rate.
std::vector<VorbisSetup> make_vorbis_setups(std::uint32_t channels, std::uint32_t rate, int step);

}  // namespace soundlib
