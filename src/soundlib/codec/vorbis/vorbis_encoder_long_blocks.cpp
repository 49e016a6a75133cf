#include "soundlib/codec/vorbis/vorbis_encoder_long_blocks.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <vector>

namespace soundlib {

namespace {

using libvorbis137::CodecSetup;

CodecSetup& setup_of(vorbis_info& vi) { return *static_cast<CodecSetup*>(vi.codec_setup); }

// How many books residue `r` lists: one per pass a partition class has.
int listed_books(const libvorbis137::Residue0& r) {
    int n = 0;
    for (int p = 0; p < r.partitions && p < 64; ++p) {
        for (int k = 0; k < 8; ++k) n += (r.secondstages[p] >> k) & 1;
    }
    return n;
}

// The books residue `r` names in the order libvorbisenc adds them: its
// group book, then each pass's, each once.
std::vector<int> residue_books(const libvorbis137::Residue0& r) {
    std::vector<int> books{r.groupbook};
    for (int i = 0; i < listed_books(r) && i < 512; ++i) {
        if (std::find(books.begin(), books.end(), r.booklist[i]) == books.end()) books.push_back(r.booklist[i]);
    }
    return books;
}

// A bin count made for blocks of `from` samples, for blocks of `to`.
int rescaled(int bins, long from, long to) { return static_cast<int>(static_cast<long long>(bins) * to / from); }

}  // namespace

std::unique_ptr<VorbisLongBlocks> add_vorbis_long_blocks(vorbis_info& vi, std::uint32_t channels, std::uint32_t rate,
                                                         long block_short, long block_long) {
    CodecSetup& ci = setup_of(vi);
    if (ci.modes != 1 || ci.maps != 1 || ci.residues != 1 || ci.psys != 2 || ci.floors < 2 ||
        ci.blocksizes[0] != ci.blocksizes[1] || ci.map_type[0] != 0 || !ci.psy_param[0] || !ci.psy_param[1] ||
        ci.psy_param[1]->blockflag != 0 || block_short <= 0 || block_long < block_short) {
        return nullptr;
    }
    const auto& stock_mode = *static_cast<const libvorbis137::Mode*>(ci.mode_param[0]);
    const auto& stock_mapping = *static_cast<const libvorbis137::Mapping0*>(ci.map_param[0]);
    if (stock_mode.blockflag != 0 || stock_mode.mapping != 0 || stock_mapping.submaps != 1) return nullptr;

    auto added = std::make_unique<VorbisLongBlocks>();
    vorbis_info& next = added->next_band;
    vorbis_info_init(&next);
    if (vorbis_encode_init_vbr(&next, static_cast<long>(channels), static_cast<long>(rate), 0.25f) != 0) {
        return nullptr;
    }
    CodecSetup& ni = setup_of(next);
    if (ni.residues < 1 || !ni.residue_param[0]) return nullptr;
    added->residue = *static_cast<const libvorbis137::Residue0*>(ni.residue_param[0]);
    const std::vector<int> books = residue_books(added->residue);
    if (books.empty() || ci.books + static_cast<int>(books.size()) > 256) return nullptr;
    for (const int b : books) {
        if (b < 0 || b >= ni.books || !ni.book_param[b]) return nullptr;
    }

    added->modes = ci.modes;
    added->maps = ci.maps;
    added->residues = ci.residues;
    added->books = ci.books;
    added->psys = ci.psys;

    // Residue 1, its books renumbered after all others.
    auto& r = added->residue;
    const auto renumbered = [&](int b) {
        return added->books + static_cast<int>(std::find(books.begin(), books.end(), b) - books.begin());
    };
    r.groupbook = renumbered(r.groupbook);
    for (int i = 0; i < listed_books(r) && i < 512; ++i) r.booklist[i] = renumbered(r.booklist[i]);
    for (const int b : books) ci.book_param[ci.books++] = ni.book_param[b];
    ci.residue_type[1] = ni.residue_type[0];
    ci.residue_param[1] = &r;
    ci.residues = 2;

    added->mapping = stock_mapping;
    added->mapping.floorsubmap[0] = 1;
    added->mapping.residuesubmap[0] = 1;
    ci.map_type[1] = 0;
    ci.map_param[1] = &added->mapping;
    ci.maps = 2;

    added->mode = stock_mode;
    added->mode.blockflag = 1;
    added->mode.mapping = 1;
    ci.mode_param[1] = &added->mode;
    ci.modes = 2;

    // Long blocks' psychoacoustics: libvorbisenc's 16 kHz template (the
    // 22 kHz one shares it) tunes transition blocks as the short padding
    // ones, and long ones only with their own noise bias; the padding
    // ones stand in for both.
    for (int k = 0; k < 2; ++k) {
        added->psy[k] = *ci.psy_param[1];
        added->psy[k].blockflag = 1;
        ci.psy_param[2 + k] = &added->psy[k];
    }
    ci.psys = 4;

    // Coupling and lowpass limits are in bins of the block.
    libvorbis137::PsyGlobal& g = ci.psy_g_param;
    const long was = ci.blocksizes[0];
    const long now[2] = {block_short, block_long};
    for (int w = 0; w < 2; ++w) {
        for (int i = 0; i < libvorbis137::kPacketBlobs; ++i) {
            g.coupling_pointlimit[w][i] = rescaled(g.coupling_pointlimit[w][i], was, now[w]);
            g.sliding_lowpass[w][i] = rescaled(g.sliding_lowpass[w][i], was, now[w]);
        }
    }
    return added;
}

void remove_vorbis_long_blocks(vorbis_info& vi, VorbisLongBlocks& added) {
    CodecSetup& ci = setup_of(vi);
    ci.modes = added.modes;
    ci.maps = added.maps;
    ci.residues = added.residues;
    ci.psys = added.psys;
    ci.mode_param[1] = ci.map_param[1] = ci.residue_param[1] = nullptr;
    ci.psy_param[2] = ci.psy_param[3] = nullptr;
}

}  // namespace soundlib
