#include "soundlib/codec/vorbis/vorbis_encoder_setup.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "soundlib/codec/vorbis/vorbis_setup_packet.h"
#include "soundlib/codec/vorbis/vorbis_encoder_long_blocks.h"
#include "soundlib/codec/vorbis/vorbis_libvorbis_137.h"

namespace soundlib {

namespace {

using libvorbis137::CodecSetup;
using libvorbis137::Floor1;
using libvorbis137::Residue0;

constexpr const char kKnownLibrary[] = "Xiph.Org libVorbis 1.3.7";

CodecSetup& setup_of(vorbis_info& vi) { return *static_cast<CodecSetup*>(vi.codec_setup); }

int floor_books(const VorbisSetupHeader& h) {
    int n = 0;
    for (const VorbisFloor& f : h.floors) n = std::max(n, f.books_used);
    return n;
}

bool header_of(vorbis_info& vi, VorbisSetupHeader& h, std::uint32_t channels) {
    ByteVector packet;
    return vorbis_setup_packet_of(vi, packet) && read_vorbis_setup(packet, channels, h);
}

}  // namespace

// The stock 44.1 kHz stereo set-up whose floors a variant takes.
struct VorbisEncoderSetup::Donor {
    vorbis_info vi{};
    VorbisSetupHeader header;
    std::vector<Floor1> copies;  // floor 0 again, its books after the previous copy's
    ~Donor() { vorbis_info_clear(&vi); }
};

// What the patch changed and release() puts back, so libvorbis frees only
// what it made.
struct VorbisEncoderSetup::Saved {
    int floors = 0;
    int floor_type[64]{};
    void* floor_param[64]{};
};

VorbisEncoderSetup::~VorbisEncoderSetup() {
    release();
    if (live_) vorbis_info_clear(&vi_);
}

void VorbisEncoderSetup::release() {
    if (long_blocks_) {
        remove_vorbis_long_blocks(vi_, *long_blocks_);
        long_blocks_.reset();
    }
    if (!saved_) return;
    CodecSetup& ci = setup_of(vi_);
    ci.floors = saved_->floors;
    std::copy(std::begin(saved_->floor_type), std::end(saved_->floor_type), ci.floor_type);
    std::copy(std::begin(saved_->floor_param), std::end(saved_->floor_param), ci.floor_param);
    saved_.reset();
}

bool vorbis_setup_packet_of(vorbis_info& vi, ByteVector& packet) {
    // The headers are packed from the set-up alone. A zeroed encoder state
    // stands in for the one vorbis_analysis_init builds, which would also
    // build the set-up's codebooks once for good (the variants change them).
    vorbis_dsp_state vd{};
    vd.vi = &vi;
    vd.backend_state = std::calloc(1, 16384);  // far more than libvorbis's encoder state takes
    if (!vd.backend_state) return false;
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    ogg_packet ident, comment, setup;
    const bool ok = vorbis_analysis_headerout(&vd, &vc, &ident, &comment, &setup) == 0 && setup.bytes > 0;
    if (ok) packet.assign(setup.packet, setup.packet + setup.bytes);
    vorbis_comment_clear(&vc);
    vorbis_dsp_clear(&vd);  // frees the packets and the state
    return ok;
}

namespace {

std::uint32_t crc_of(vorbis_info& vi) {
    ByteVector packet;
    return vorbis_setup_packet_of(vi, packet) ? crc32(packet.data(), packet.size()) : 0;
}

// Stock at this quality, its lowpass at most `lowpass_cap` kHz.
bool stock_init(vorbis_info& vi, std::uint32_t channels, std::uint32_t rate, float quality, double lowpass_cap) {
    vorbis_info_init(&vi);
    if (vorbis_encode_setup_vbr(&vi, static_cast<long>(channels), static_cast<long>(rate), quality) != 0) return false;
    double lowpass = 0;
    if (vorbis_encode_ctl(&vi, OV_ECTL_LOWPASS_GET, &lowpass) != 0) return false;
    if (lowpass > lowpass_cap && vorbis_encode_ctl(&vi, OV_ECTL_LOWPASS_SET, &lowpass_cap) != 0) return false;
    return vorbis_encode_setup_init(&vi) == 0;
}

}  // namespace

std::unique_ptr<VorbisEncoderSetup> make_vorbis_encoder_setup(std::uint32_t channels, std::uint32_t rate,
                                                              const VorbisSetup& want, std::string& why) {
    auto s = std::make_unique<VorbisEncoderSetup>();
    const float quality = vorbis_quality_for_step(want.quality);
    // The phone encoder's lowpass stops at 22.05 kHz; stock's is higher only above 44.1 kHz.
    const double cap = want.variant == VorbisVariant::phone ? 22.05 : 1e9;
    s->live_ = true;
    if (!stock_init(s->vi_, channels, rate, quality, cap)) {
        why = "libvorbisenc takes no " + std::to_string(channels) + " channels at " + std::to_string(rate) + " Hz";
        return nullptr;
    }
    if (crc_of(s->vi_) == want.crc) return s;

    why = "this encoder's set-up (CRC " + std::to_string(want.crc) + ") cannot be made here";
    VorbisSetupHeader wanted, stock;
    if (std::strcmp(vorbis_version_string(), kKnownLibrary) != 0 || !read_vorbis_setup(want.packet, channels, wanted) ||
        !header_of(s->vi_, stock, channels)) {
        return nullptr;
    }
    CodecSetup& ci = setup_of(s->vi_);
    const int stock_floor_books = floor_books(stock);
    s->saved_ = std::make_unique<VorbisEncoderSetup::Saved>();
    s->saved_->floors = ci.floors;
    std::copy(ci.floor_type, ci.floor_type + 64, s->saved_->floor_type);
    std::copy(ci.floor_param, ci.floor_param + 64, s->saved_->floor_param);
    // One block size made two: a mode, mapping and residue for the long ones.
    if (stock.modes.size() == 1 && wanted.modes.size() == 2) {
        s->long_blocks_ = add_vorbis_long_blocks(s->vi_, channels, rate, static_cast<long>(want.block_short),
                                                 static_cast<long>(want.block_long));
        if (!s->long_blocks_) return nullptr;
    }
    if (static_cast<std::size_t>(ci.residues) != wanted.residues.size()) return nullptr;
    std::vector<void*> residue_books(ci.book_param + stock_floor_books, ci.book_param + ci.books);

    // The variants' floors are stock 44.1 kHz stereo ones: both of a
    // quality with 256/2048 blocks, or its short one once per stock floor.
    for (const float donor_quality : {0.05f, 0.25f, 0.45f}) {
        auto donor = std::make_unique<VorbisEncoderSetup::Donor>();
        vorbis_info_init(&donor->vi);
        if (vorbis_encode_init_vbr(&donor->vi, 2, 44100, donor_quality) != 0 ||
            !header_of(donor->vi, donor->header, 2) || donor->header.floors.empty()) {
            continue;
        }
        CodecSetup& di = setup_of(donor->vi);
        for (const bool copies : {false, true}) {
            std::vector<void*> floors, books;
            if (!copies) {
                for (int f = 0; f < di.floors; ++f) floors.push_back(di.floor_param[f]);
                books.assign(di.book_param, di.book_param + floor_books(donor->header));
            } else {
                const int used = donor->header.floors[0].books_used;
                donor->copies.assign(static_cast<std::size_t>(s->saved_->floors),
                                     *static_cast<const Floor1*>(di.floor_param[0]));
                for (std::size_t k = 0; k < donor->copies.size(); ++k) {
                    Floor1& f = donor->copies[k];
                    const int shift = static_cast<int>(k) * used;
                    for (int c = 0; c < 16; ++c) {
                        f.class_book[c] += shift;
                        for (int& b : f.class_subbook[c]) b += b >= 0 ? shift : 0;
                    }
                    floors.push_back(&f);
                    books.insert(books.end(), di.book_param, di.book_param + used);
                }
            }
            if (floors.size() != wanted.floors.size() || books.size() + residue_books.size() > 256) continue;
            ci.floors = static_cast<int>(floors.size());
            for (std::size_t f = 0; f < floors.size(); ++f) {
                ci.floor_type[f] = 1;
                ci.floor_param[f] = floors[f];
            }
            books.insert(books.end(), residue_books.begin(), residue_books.end());
            ci.books = static_cast<int>(books.size());
            std::copy(books.begin(), books.end(), ci.book_param);
            for (std::size_t r = 0; r < wanted.residues.size(); ++r) {
                auto& res = *static_cast<Residue0*>(ci.residue_param[r]);
                const VorbisResidue& w = wanted.residues[r];
                if (w.books.size() > 512) return nullptr;
                res.end = static_cast<long>(w.end);
                res.groupbook = static_cast<int>(w.groupbook);
                std::copy(w.books.begin(), w.books.end(), res.booklist);
            }
            ci.blocksizes[0] = static_cast<long>(want.block_short);
            ci.blocksizes[1] = static_cast<long>(want.block_long);
            if (crc_of(s->vi_) == want.crc) {
                s->donor_ = std::move(donor);
                return s;
            }
        }
    }
    return nullptr;  // the destructor puts the floors back
}

}  // namespace soundlib
