#include "soundlib/codec/vorbis_setup.h"

#include <vorbis/vorbisenc.h>

#include <array>
#include <cstring>

namespace soundlib {

namespace {

std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

void put_le32(ByteVector& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put_magic(ByteVector& b, std::uint8_t type) {
    b.push_back(type);
    for (const char c : {'v', 'o', 'r', 'b', 'i', 's'}) b.push_back(static_cast<std::uint8_t>(c));
}

std::uint8_t log2_of(std::uint32_t v) {
    std::uint8_t n = 0;
    while (v > 1) {
        v >>= 1;
        ++n;
    }
    return n;
}

// The steps in the order they are tried: from the middle outwards, where the
// banks we know were made (steps 48 to 50), so a match usually takes one or
// two candidates; every step still comes once.
int step_in_search_order(int i) {
    const int k = (i + 1) / 2;
    return (i % 2) ? 50 + k : 50 - k;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = make_crc_table();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

ByteVector vorbis_identification_header(std::uint32_t channels, std::uint32_t rate, std::uint32_t block_short,
                                        std::uint32_t block_long) {
    ByteVector b;
    put_magic(b, 1);
    put_le32(b, 0);  // version
    b.push_back(static_cast<std::uint8_t>(channels));
    put_le32(b, rate);
    put_le32(b, 0);  // bitrate maximum, nominal, minimum: unknown
    put_le32(b, 0);
    put_le32(b, 0);
    b.push_back(static_cast<std::uint8_t>(log2_of(block_short) | (log2_of(block_long) << 4)));
    b.push_back(1);  // framing
    return b;
}

ByteVector vorbis_comment_header() {
    ByteVector b;
    put_magic(b, 3);
    put_le32(b, 0);  // vendor string length
    put_le32(b, 0);  // comment count
    b.push_back(1);  // framing
    return b;
}

float vorbis_quality_for_step(int step) {
    // Steps 1..100 spread evenly over -0.1..1.0. Computed in float: the
    // candidates that matched the banks were made this way.
    return (static_cast<float>(step - 1) + static_cast<float>(step - 100) * 0.1f) / 99.0f;
}

bool generate_vorbis_setup(std::uint32_t channels, std::uint32_t rate, int step, VorbisSetup& out) {
    if (channels < 1 || channels > 255 || rate < 1 || rate > 0x7FFFFFFF) return false;
    vorbis_info vi;
    vorbis_info_init(&vi);
    bool ok = false;
    if (vorbis_encode_init_vbr(&vi, static_cast<long>(channels), static_cast<long>(rate),
                               vorbis_quality_for_step(step)) == 0) {
        vorbis_dsp_state vd;
        if (vorbis_analysis_init(&vd, &vi) == 0) {
            vorbis_comment vc;
            vorbis_comment_init(&vc);
            ogg_packet ident, comment, setup;
            if (vorbis_analysis_headerout(&vd, &vc, &ident, &comment, &setup) == 0 && setup.bytes > 0) {
                out.packet.assign(setup.packet, setup.packet + setup.bytes);
                out.crc = crc32(out.packet.data(), out.packet.size());
                out.quality = step;
                out.block_short = static_cast<std::uint32_t>(vorbis_info_blocksize(&vi, 0));
                out.block_long = static_cast<std::uint32_t>(vorbis_info_blocksize(&vi, 1));
                ok = true;
            }
            vorbis_comment_clear(&vc);
            vorbis_dsp_clear(&vd);
        }
    }
    vorbis_info_clear(&vi);
    return ok;
}

const VorbisSetup* VorbisSetupCache::find(std::uint32_t channels, std::uint32_t rate, std::uint32_t crc) {
    Pair* pair = nullptr;
    for (Pair& p : pairs_) {
        if (p.channels == channels && p.rate == rate) pair = &p;
    }
    if (!pair) {
        pairs_.push_back(Pair{channels, rate, 0, {}});
        pair = &pairs_.back();
    }
    for (const auto& c : pair->candidates) {
        if (c->crc == crc) return c.get();
    }
    while (pair->tried < 100) {
        auto candidate = std::make_unique<VorbisSetup>();
        const bool made = generate_vorbis_setup(channels, rate, step_in_search_order(pair->tried++), *candidate);
        ++steps_generated_;
        if (!made) continue;
        bool seen = false;
        for (const auto& c : pair->candidates) {
            seen = seen || (c->crc == candidate->crc && c->packet == candidate->packet);
        }
        if (seen) continue;
        pair->candidates.push_back(std::move(candidate));
        if (pair->candidates.back()->crc == crc) return pair->candidates.back().get();
    }
    return nullptr;
}

}  // namespace soundlib
