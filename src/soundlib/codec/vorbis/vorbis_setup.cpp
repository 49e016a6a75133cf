#include "soundlib/codec/vorbis/vorbis_setup.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "soundlib/codec/vorbis/vorbis_setup_packet.h"

#include "soundlib/leak_checked.h"

namespace soundlib {

namespace {

// libvorbisenc 1.3.7 loses four residue set-ups (11 KB) each time it sets up
// six channels at 44.1 or 48 kHz; they are not ours to free, so leak checking
// ignores what it allocates here. The search budget bounds the loss.
int encode_init_vbr(vorbis_info* vi, std::uint32_t channels, std::uint32_t rate, float quality) {
#ifdef SOUNDLIB_LEAK_CHECKED
    const __lsan::ScopedDisabler not_ours;
#endif
    return vorbis_encode_init_vbr(vi, static_cast<long>(channels), static_cast<long>(rate), quality);
}

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

// The three headers libvorbis writes for this encoder set-up.
//
// vorbis_analysis_headerout packs them from the set-up alone; of the
// encoder's state it only keeps the packets it hands out. The state
// vorbis_analysis_init builds for it (transforms, psychoacoustics, encode
// tables: about 2 ms, ten times the rest of a set-up) is left out: a
// zeroed state, which vorbis_dsp_clear takes as one with nothing built,
// stands in. Should a libvorbis ever want more of it, the full state is
// built instead (the set-up's own header; tests check both ways agree).
bool header_out(vorbis_info& vi, ByteVector& setup_packet) {
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd{};
    const auto pack = [&] {
        ogg_packet ident, comment, setup;
        const bool ok = vorbis_analysis_headerout(&vd, &vc, &ident, &comment, &setup) == 0 && setup.bytes > 0;
        if (ok) setup_packet.assign(setup.packet, setup.packet + setup.bytes);
        vorbis_dsp_clear(&vd);  // frees the packets and the state
        return ok;
    };
    vd.vi = &vi;
    // Far more than libvorbis's encoder state takes (a few hundred bytes).
    vd.backend_state = std::calloc(1, 16384);
    const bool ok = (vd.backend_state && pack()) || (vorbis_analysis_init(&vd, &vi) == 0 && pack());
    vorbis_comment_clear(&vc);
    return ok;
}

// libvorbisenc's set-up for this quality: its setup header, block sizes and
// lowpass.
bool stock_setup(std::uint32_t channels, std::uint32_t rate, float quality, VorbisSetup& out, double& lowpass_khz) {
    if (channels < 1 || channels > 255 || rate < 1 || rate > 0x7FFFFFFF) return false;
    vorbis_info vi;
    vorbis_info_init(&vi);
    bool ok = false;
    if (encode_init_vbr(&vi, channels, rate, quality) == 0 &&
        vorbis_encode_ctl(&vi, OV_ECTL_LOWPASS_GET, &lowpass_khz) == 0 && header_out(vi, out.packet)) {
        out.crc = crc32(out.packet.data(), out.packet.size());
        out.variant = VorbisVariant::stock;
        out.block_short = static_cast<std::uint32_t>(vorbis_info_blocksize(&vi, 0));
        out.block_long = static_cast<std::uint32_t>(vorbis_info_blocksize(&vi, 1));
        ok = true;
    }
    vorbis_info_clear(&vi);
    return ok;
}

// Floors the variant puts in place of the stock ones, with their codebooks,
// as a stock 44.1 kHz set-up that uses them has them.
struct VariantFloors {
    std::vector<VorbisFloor> floors;  // in the header's order
    std::vector<BitString> books;     // numbered as the floors name them
};

// The floors of stock 2 channels at 44.1 kHz, which has 256/2048 blocks:
// empty when they are not the ones we expect (128 x short_posts and
// 1024 x 27), as a future libvorbis might have them.
VorbisSetupHeader stock_floors_44k(float quality, std::uint32_t short_posts) {
    VorbisSetup s;
    double lowpass_khz = 0;
    VorbisSetupHeader h;
    if (!stock_setup(2, 44100, quality, s, lowpass_khz) || !read_vorbis_setup(s.packet, 2, h)) return {};
    if (h.floors.size() != 2 || h.floors[0].range != 128 || h.floors[0].posts != short_posts ||
        h.floors[1].range != 1024 || h.floors[1].posts != 27) {
        return {};
    }
    const auto used = static_cast<std::size_t>(std::max(h.floors[0].books_used, h.floors[1].books_used));
    if (used > h.books.size()) return {};
    return h;
}

// Both floors of that set-up: libvorbisenc numbers each floor's books from
// the first, before any residue book.
VariantFloors both_floors_of(float quality, std::uint32_t short_posts) {
    VariantFloors f;
    VorbisSetupHeader h = stock_floors_44k(quality, short_posts);
    if (h.floors.empty()) return f;
    const auto used = static_cast<std::size_t>(std::max(h.floors[0].books_used, h.floors[1].books_used));
    f.books.assign(h.books.begin(), h.books.begin() + static_cast<std::ptrdiff_t>(used));
    f.floors = std::move(h.floors);
    return f;
}

// `count` copies of the 128 x 4 floor, each with its own books after the
// previous one's, as libvorbisenc lays out a template that names the same
// floor for every block type.
VariantFloors short_floor_copies(std::size_t count) {
    VariantFloors f;
    VorbisSetupHeader h = stock_floors_44k(0.05f, 4);
    if (h.floors.empty() || h.floors[0].books_used < 1) return f;
    const auto used = static_cast<std::size_t>(h.floors[0].books_used);
    for (std::size_t i = 0; i < count; ++i) {
        VorbisFloor floor = h.floors[0];
        if (!shift_floor_books(floor, static_cast<int>(f.books.size()))) return {};
        f.books.insert(f.books.end(), h.books.begin(), h.books.begin() + static_cast<std::ptrdiff_t>(used));
        f.floors.push_back(std::move(floor));
    }
    return f;
}

// What the variant makes of one stock block layout.
struct VariantRule {
    std::uint32_t block_short, block_long;  // the variant's
    VorbisVariant variant;
    std::size_t stock_floors;            // what the stock set-up must have...
    std::uint32_t stock_range, stock_posts;  // ...in its first floor
    const VariantFloors* floors;          // null when this library lacks them
};

// The rule for stock blocks of these sizes, or null when the variant makes
// nothing else of them.
const VariantRule* variant_rule(std::uint32_t block_short, std::uint32_t block_long) {
    // Two blocks: 256 x 4 and 2048 x 27 floors, or 256 x 7 and 512 x 17,
    // replaced by 128 x 4 (or 128 x 7) and 1024 x 27.
    if (block_short == 512 && block_long == 4096) {
        static const VariantFloors floors = both_floors_of(0.05f, 4);
        static const VariantRule rule{256, 2048, VorbisVariant::blocks_256_2048, 2, 256, 4,
                                      floors.floors.empty() ? nullptr : &floors};
        return &rule;
    }
    if (block_short == 512 && block_long == 1024) {
        static const VariantFloors floors = both_floors_of(0.25f, 7);
        static const VariantRule rule{256, 2048, VorbisVariant::blocks_256_2048, 2, 256, 7,
                                      floors.floors.empty() ? nullptr : &floors};
        return &rule;
    }
    // One block: the "256 x 4 low" floor, or two "512 x 17" floors, each
    // replaced by 128 x 4.
    if (block_short == 512 && block_long == 512) {
        static const VariantFloors floors = short_floor_copies(1);
        static const VariantRule rule{256, 256, VorbisVariant::blocks_256, 1, 256, 4,
                                      floors.floors.empty() ? nullptr : &floors};
        return &rule;
    }
    if (block_short == 1024 && block_long == 1024) {
        static const VariantFloors floors = short_floor_copies(2);
        static const VariantRule rule{256, 256, VorbisVariant::blocks_256, 2, 512, 17,
                                      floors.floors.empty() ? nullptr : &floors};
        return &rule;
    }
    return nullptr;
}

// Where the phone encoder's blocks and floors differ from the variant
// above: only at 15 to 26 kHz, whose stock template has 1024/1024 blocks
// below quality 0.05 and 512/1024 above, and whose top quality band starts
// at 0.5.
const VariantRule* phone_rule(std::uint32_t block_short, std::uint32_t block_long, float quality) {
    // libvorbisenc nudges the quality up by 1e-7, in float, before it picks
    // the band.
    const bool top_band = static_cast<float>(quality + 0.0000001) >= 0.5f;
    if (block_short == 1024 && block_long == 1024) {
        static const VariantFloors floors = both_floors_of(0.05f, 4);
        static const VariantRule rule{256, 2048, VorbisVariant::phone, 2, 512, 17,
                                      floors.floors.empty() ? nullptr : &floors};
        return &rule;
    }
    if (block_short == 512 && block_long == 1024 && top_band) {
        static const VariantFloors floors = both_floors_of(0.45f, 11);
        static const VariantRule rule{256, 2048, VorbisVariant::phone, 2, 256, 7,
                                      floors.floors.empty() ? nullptr : &floors};
        return &rule;
    }
    return nullptr;
}

// The phone encoder's lowpass: libvorbisenc's, but never above half of
// 44.1 kHz. It only tells at rates above 44.1 kHz, where libvorbisenc's
// lowpass passes that from quality 0.51 up (its band from 0.5 to 0.6
// climbs from 20.1 kHz to 48).
constexpr double kPhoneLowpassKhz = 22.05;
double phone_lowpass(double lowpass_khz) { return std::min(lowpass_khz, kPhoneLowpassKhz); }

// A residue ends where libvorbisenc puts it: at the lowpass (at most the
// Nyquist frequency), as a share of the block half, rounded up to a
// partition only when well past one.
std::uint32_t residue_end(double lowpass_khz, std::uint32_t rate, long block_half, int channels, long grouping) {
    double freq = lowpass_khz * 1000.;
    const double nyquist = rate / 2.;
    if (freq > nyquist) freq = nyquist;
    long end = static_cast<int>((freq / nyquist * block_half * channels) / grouping + .9) * grouping;
    if (end > block_half * channels) end = block_half * channels / grouping * grouping;
    if (end == 0) end = grouping;
    return static_cast<std::uint32_t>(end);
}

// The rule's floors and their books in place of the stock ones, the residue
// books renumbered after them. False when the stock floors are not the ones
// the rule replaces: a libvorbis we do not know, so no variant rather than
// a wrong one.
bool replace_floors(VorbisSetupHeader& h, const VariantRule& rule) {
    if (h.floors.size() != rule.stock_floors || h.floors.size() != rule.floors->floors.size() ||
        h.floors[0].range != rule.stock_range || h.floors[0].posts != rule.stock_posts) {
        return false;
    }
    int stock_floor_books = 0;
    for (const VorbisFloor& f : h.floors) stock_floor_books = std::max(stock_floor_books, f.books_used);
    if (static_cast<std::size_t>(stock_floor_books) > h.books.size()) return false;
    const long shift = static_cast<long>(rule.floors->books.size()) - stock_floor_books;

    std::vector<BitString> books = rule.floors->books;
    books.insert(books.end(), h.books.begin() + stock_floor_books, h.books.end());
    if (books.size() > 256) return false;
    h.books = std::move(books);
    h.floors = rule.floors->floors;
    for (VorbisResidue& r : h.residues) {
        if (static_cast<long>(r.groupbook) < stock_floor_books) return false;
        r.groupbook = static_cast<std::uint32_t>(r.groupbook + shift);
        for (std::uint32_t& b : r.books) {
            if (static_cast<long>(b) < stock_floor_books) return false;
            b = static_cast<std::uint32_t>(b + shift);
        }
    }
    return true;
}

// Appends residue `r` of `from` with the books it names, in the order
// libvorbisenc adds them (its group book, then each pass's, each book once).
bool append_residue(VorbisSetupHeader& h, const VorbisSetupHeader& from, VorbisResidue r) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> renumbered;  // in from, in h
    bool ok = true;
    const auto book = [&](std::uint32_t b) -> std::uint32_t {
        for (const auto& [was, is] : renumbered) {
            if (was == b) return is;
        }
        if (b >= from.books.size() || h.books.size() >= 256) {
            ok = false;
            return 0;
        }
        const auto is = static_cast<std::uint32_t>(h.books.size());
        h.books.push_back(from.books[b]);
        renumbered.emplace_back(b, is);
        return is;
    };
    r.groupbook = book(r.groupbook);
    for (std::uint32_t& b : r.books) b = book(b);
    h.residues.push_back(std::move(r));
    return ok;
}

// Below quality 0.05 at 15 to 26 kHz libvorbisenc's template has one block
// size and one residue. Given two block sizes there, libvorbisenc takes the
// long blocks' residue from one entry past that one in its tables: the
// short-block residue of the next band (0.05 to 0.5), as a stock set-up of
// that band has it. A second mapping and mode give the long blocks their
// floor and that residue.
bool add_long_blocks(VorbisSetupHeader& h, std::uint32_t channels, std::uint32_t rate) {
    if (h.residues.size() != 1 || h.mappings.size() != 1 || h.modes.size() != 1 || h.modes[0].mapping != 0 ||
        h.mappings[0].floor.size() != 1) {
        return false;
    }
    VorbisSetup next_band;
    double lowpass_khz = 0;
    VorbisSetupHeader next;
    if (!stock_setup(channels, rate, 0.25f, next_band, lowpass_khz) || next_band.block_short != 512 ||
        next_band.block_long != 1024 || !read_vorbis_setup(next_band.packet, channels, next) || next.residues.empty() ||
        !append_residue(h, next, next.residues[0])) {
        return false;
    }
    VorbisMapping long_mapping = h.mappings[0];
    long_mapping.floor = {1};
    long_mapping.residue = {1};
    h.mappings.push_back(std::move(long_mapping));
    VorbisMode long_mode = h.modes[0];
    long_mode.blockflag = 1;
    long_mode.mapping = 1;
    h.modes.push_back(long_mode);
    return true;
}

// Residue ends for the variant's block sizes.
bool set_residue_ends(VorbisSetupHeader& h, const std::uint32_t (&blocks)[2], double lowpass_khz,
                      std::uint32_t rate) {
    for (const VorbisMode& mode : h.modes) {
        if (mode.mapping >= h.mappings.size() || mode.blockflag > 1) return false;
        const VorbisMapping& m = h.mappings[mode.mapping];
        for (std::size_t j = 0; j < m.residue.size(); ++j) {
            if (m.residue[j] >= h.residues.size()) return false;
            VorbisResidue& r = h.residues[m.residue[j]];
            int submap_channels = 0;
            for (const std::uint8_t s : m.mux) submap_channels += s == j;
            r.end = residue_end(lowpass_khz, rate, blocks[mode.blockflag] / 2, r.type == 2 ? submap_channels : 1,
                                r.grouping);
        }
    }
    return true;
}

// A variant's set-up from the stock one of the same step: other floors and
// their books, residue books renumbered after them, residue ends for the
// new block sizes; mappings and modes as they are, but for the long blocks
// the phone encoder adds where stock has one block size.
bool make_variant(const VorbisSetup& stock, const VariantRule* rule, std::uint32_t channels, std::uint32_t rate,
                  double lowpass_khz, VorbisSetup& out) {
    if (!rule || !rule->floors) return false;
    VorbisSetupHeader h;
    if (!read_vorbis_setup(stock.packet, channels, h) || !replace_floors(h, *rule)) return false;
    if (stock.block_short == stock.block_long && rule->block_short != rule->block_long &&
        !add_long_blocks(h, channels, rate)) {
        return false;
    }
    const std::uint32_t blocks[2] = {rule->block_short, rule->block_long};
    if (!set_residue_ends(h, blocks, lowpass_khz, rate)) return false;
    out.packet = write_vorbis_setup(h, channels);
    out.crc = crc32(out.packet.data(), out.packet.size());
    out.variant = rule->variant;
    out.block_short = blocks[0];
    out.block_long = blocks[1];
    return true;
}

// `base`, made with lowpass `was_khz`, with the residues that end at that
// lowpass ended at `lowpass_khz` instead (for its own block sizes); the
// rest as it is, such as a residue libvorbisenc ends elsewhere (the LFE
// channel's of six).
bool with_lowpass(const VorbisSetup& base, std::uint32_t channels, std::uint32_t rate, double was_khz,
                  double lowpass_khz, VorbisVariant variant, VorbisSetup& out) {
    VorbisSetupHeader h;
    const std::uint32_t blocks[2] = {base.block_short, base.block_long};
    if (!read_vorbis_setup(base.packet, channels, h)) return false;
    VorbisSetupHeader was = h, now = h;
    if (!set_residue_ends(was, blocks, was_khz, rate) || !set_residue_ends(now, blocks, lowpass_khz, rate)) {
        return false;
    }
    for (std::size_t i = 0; i < h.residues.size(); ++i) {
        if (h.residues[i].end == was.residues[i].end) h.residues[i].end = now.residues[i].end;
    }
    out.packet = write_vorbis_setup(h, channels);
    out.crc = crc32(out.packet.data(), out.packet.size());
    out.variant = variant;
    out.block_short = blocks[0];
    out.block_long = blocks[1];
    return true;
}

std::vector<VorbisSetup> make_setups(std::uint32_t channels, std::uint32_t rate, int step) {
    std::vector<VorbisSetup> setups(1);
    double lowpass_khz = 0;
    const float quality = vorbis_quality_for_step(step);
    if (!stock_setup(channels, rate, quality, setups[0], lowpass_khz)) return {};
    setups[0].quality = step;
    const auto keep = [&](VorbisSetup&& s) {
        const bool repeated =
            std::any_of(setups.begin(), setups.end(), [&](const VorbisSetup& t) { return t.crc == s.crc; });
        if (repeated) return;
        s.quality = step;
        setups.push_back(std::move(s));
    };
    const VorbisSetup stock = setups[0];
    // The variant's set-up, or stock's where the variant makes nothing else.
    VorbisSetup variant;
    const bool has_variant = make_variant(stock, variant_rule(stock.block_short, stock.block_long), channels, rate,
                                          lowpass_khz, variant);
    if (has_variant) keep(VorbisSetup(variant));
    // The phone encoder's: its own blocks and floors where it has them,
    // otherwise the variant's; its residues end at its own lowpass.
    VorbisSetup phone;
    const double phone_lowpass_khz = phone_lowpass(lowpass_khz);
    if (make_variant(stock, phone_rule(stock.block_short, stock.block_long, quality), channels, rate,
                     phone_lowpass_khz, phone) ||
        (phone_lowpass_khz != lowpass_khz &&
         with_lowpass(has_variant ? variant : stock, channels, rate, lowpass_khz, phone_lowpass_khz,
                      VorbisVariant::phone, phone))) {
        keep(std::move(phone));
    }
    return setups;
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

int vorbis_step_in_search_order(int i) {
    const int k = (i + 1) / 2;
    return (i % 2) ? 50 + k : 50 - k;
}

std::vector<VorbisSetup> make_vorbis_setups(std::uint32_t channels, std::uint32_t rate, int step) {
    return make_setups(channels, rate, step);
}

}  // namespace soundlib
