#include "soundlib/codec/vorbis/vorbis_encoder.h"

#include <vorbis/codec.h>

#include <algorithm>

#include "soundlib/codec/vorbis/vorbis_setup_cache.h"
#include "soundlib/codec/vorbis/vorbis_setup_table.h"
#include "soundlib/codec/vorbis/vorbis_encoder_setup.h"
#include "soundlib/io/scratch_file.h"

namespace soundlib {

void VorbisSeekTable::add_packet(std::uint64_t offset, std::uint64_t frames_added) {
    const std::uint64_t reached = reached_ + frames_added;
    if (any_) {
        while (reached >= (points_.size() + 1) * std::uint64_t{rate_}) {
            points_.push_back({static_cast<std::uint32_t>(reached_), static_cast<std::uint32_t>(last_offset_)});
        }
    }
    any_ = true;
    reached_ = reached;
    last_offset_ = offset;
}

std::vector<std::uint8_t> VorbisSeekTable::chunk(std::uint32_t crc, std::uint64_t frames) const {
    std::size_t n = 0;
    while (n < points_.size() && (n + 1) * std::uint64_t{rate_} <= frames) ++n;
    std::vector<std::uint8_t> out;
    const auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(crc);
    put(static_cast<std::uint32_t>(n * 8));
    for (std::size_t i = 0; i < n; ++i) {
        put(points_[i].frames);
        put(points_[i].offset);
    }
    return out;
}

namespace {

bool tabulated(std::uint32_t channels, std::uint32_t rate) {
    return channels >= 1 && channels <= kVorbisTableMaxChannels &&
           std::find(std::begin(kVorbisTableRates), std::end(kVorbisTableRates), rate) != std::end(kVorbisTableRates);
}

std::string what_fits(const char* family) {
    std::string rates;
    for (const std::uint32_t r : kVorbisTableRates) rates += (rates.empty() ? "" : ", ") + std::to_string(r);
    return std::string("1 or 2 channels at ") + rates + " Hz would fit (the rates and channels whose " + family +
           " set-ups readers regenerate)";
}

const char* family_text(VorbisVariant v) {
    switch (v) {
        case VorbisVariant::stock: return "stock libvorbisenc";
        case VorbisVariant::phone: return "phone encoder";
        default: return "small-block encoder";
    }
}

// The family's set-up at this step: its own where it differs, else the
// one it shares (the phone encoder is the small-block one but for its changes).
const VorbisSetup* family_setup(const std::vector<VorbisSetup>& setups, VorbisVariant family) {
    const auto of = [&](auto pred) -> const VorbisSetup* {
        for (const VorbisSetup& s : setups) {
            if (pred(s.variant)) return &s;
        }
        return nullptr;
    };
    const auto small_blocks = [](VorbisVariant v) {
        return v == VorbisVariant::blocks_256_2048 || v == VorbisVariant::blocks_256;
    };
    const VorbisSetup* s = nullptr;
    if (family == VorbisVariant::phone) s = of([](VorbisVariant v) { return v == VorbisVariant::phone; });
    if (!s && family != VorbisVariant::stock) s = of(small_blocks);
    return s ? s : (setups.empty() ? nullptr : &setups[0]);
}

// Libvorbisenc takes samples in blocks and its packets' sizes are known
// only once made, yet the stored size comes before the header. So the
// survey pass encodes into a temporary file (memory stays bounded however
// long the sound), and the write pass copies that file out.
class VorbisEncoder final : public SoundEncoder {
public:
    VorbisEncoder(const EncodeTarget& t, std::unique_ptr<VorbisEncoderSetup> setup, std::uint32_t crc)
        : target_(t), setup_(std::move(setup)), crc_(crc), seek_(t.rate) {}
    ~VorbisEncoder() override { close_state(); }

    std::uint64_t stored_bytes() const override { return size_; }
    bool surveys() const override { return true; }
    void survey(const double* samples, std::uint32_t frames) override {
        if (!open_state()) return;
        float** buffer = vorbis_analysis_buffer(&vd_, static_cast<int>(frames));
        for (std::uint32_t c = 0; c < target_.channels; ++c) {
            for (std::uint32_t f = 0; f < frames; ++f) {
                buffer[c][f] = static_cast<float>(samples[std::size_t{f} * target_.channels + c]);
            }
        }
        vorbis_analysis_wrote(&vd_, static_cast<int>(frames));
        drain();
    }
    void end_survey() override {
        if (open_state()) {
            vorbis_analysis_wrote(&vd_, 0);
            drain();
        }
        close_state();
        if (!written_ok_) failed_ = true;
    }
    std::vector<std::uint8_t> setup() const override { return seek_.chunk(crc_, target_.frames); }
    std::uint32_t setup_chunk() const override { return 11; }

    void begin_pass(std::uint32_t) override {
        if (!file_.rewind()) failed_ = true;
        frames_seen_ = 0;
    }
    bool encode(const double*, std::uint32_t frames, std::vector<std::uint8_t>& out, std::uint32_t& bad) override {
        bad = 0;
        frames_seen_ += frames;
        const std::uint64_t upto = target_.frames ? size_ * frames_seen_ / target_.frames : size_;
        return !failed_ && copy_out(upto, out);
    }
    void end_pass(std::vector<std::uint8_t>& out) override {
        if (!failed_) copy_out(size_, out);
    }

private:
    bool open_state() {
        if (failed_ || done_) return !failed_ && !done_;
        if (started_) return true;
        if (!file_.open() || vorbis_analysis_init(&vd_, setup_->info()) != 0) {
            failed_ = true;
            return false;
        }
        vorbis_block_init(&vd_, &vb_);
        // The decoder's view of the headers tells each packet's block size.
        vorbis_comment vc;
        vorbis_comment_init(&vc);
        vorbis_info_init(&di_);
        vorbis_comment_init(&dc_);
        ogg_packet h[3];
        vorbis_analysis_headerout(&vd_, &vc, &h[0], &h[1], &h[2]);
        for (ogg_packet& p : h) vorbis_synthesis_headerin(&di_, &dc_, &p);
        vorbis_comment_clear(&vc);
        started_ = true;
        return true;
    }
    void close_state() {
        if (!started_ || done_) return;
        vorbis_block_clear(&vb_);
        vorbis_dsp_clear(&vd_);
        setup_->release();
        vorbis_comment_clear(&dc_);
        vorbis_info_clear(&di_);
        done_ = true;
    }
    void drain() {
        while (vorbis_analysis_blockout(&vd_, &vb_) == 1) {
            vorbis_analysis(&vb_, nullptr);
            vorbis_bitrate_addblock(&vb_);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd_, &op) == 1) {
                if (op.bytes > 0xFFFF) {
                    failed_ = true;
                    return;
                }
                const long block = vorbis_packet_blocksize(&di_, &op);
                seek_.add_packet(size_, previous_block_ ? (previous_block_ + block) / 4 : 0);
                previous_block_ = block;
                const std::uint8_t length[2] = {static_cast<std::uint8_t>(op.bytes & 0xFF),
                                                static_cast<std::uint8_t>(op.bytes >> 8)};
                if (!file_.write(length, 2) || !file_.write(op.packet, static_cast<std::size_t>(op.bytes)))
                    written_ok_ = false;
                size_ += 2 + static_cast<std::uint64_t>(op.bytes);
            }
        }
    }
    bool copy_out(std::uint64_t upto, std::vector<std::uint8_t>& out) {
        if (failed_ || !file_.read_up_to(upto, out)) failed_ = true;
        return !failed_;
    }

    EncodeTarget target_;
    std::unique_ptr<VorbisEncoderSetup> setup_;
    std::uint32_t crc_;
    ScratchFile file_;
    bool written_ok_ = true;
    VorbisSeekTable seek_;
    vorbis_dsp_state vd_{};
    vorbis_block vb_{};
    vorbis_info di_{};
    vorbis_comment dc_{};
    bool started_ = false, done_ = false, failed_ = false;
    long previous_block_ = 0;
    std::uint64_t size_ = 0, frames_seen_ = 0;
};


}  // namespace

namespace {

// The set-up the sound being replaced has, as readers regenerate it: its
// family and step name the encoder. Null with why not.
const VorbisSetup* old_setup(const EncodeTarget& t, VorbisSetupCache& cache, std::string& why) {
    if (t.old_setup.size() < 4) {
        why = "its set-up CRC cannot be read";
        return nullptr;
    }
    const std::uint32_t old_crc = static_cast<std::uint32_t>(t.old_setup[0]) | (t.old_setup[1] << 8) |
                                  (t.old_setup[2] << 16) | (static_cast<std::uint32_t>(t.old_setup[3]) << 24);
    const VorbisSetup* old = cache.find(t.old_channels, t.old_rate, old_crc);
    if (!old) why = "its set-up (CRC " + std::to_string(old_crc) + ") is none we regenerate, so its encoder is unknown";
    return old;
}

// The families whose set-up at the sound's step is this one: more than one
// where they make the same (the small-block encoder is stock at 44.1 kHz).
std::vector<VorbisVariant> families_making(VorbisSetupCache& cache, std::uint32_t channels, std::uint32_t rate,
                                           std::uint32_t crc) {
    const VorbisSetup* found = cache.find(channels, rate, crc);
    if (!found) return {};
    const std::vector<VorbisSetup> setups = make_vorbis_setups(channels, rate, found->quality);
    std::vector<VorbisVariant> out;
    for (const VorbisVariant f : {VorbisVariant::stock, VorbisVariant::blocks_256_2048, VorbisVariant::phone}) {
        const VorbisSetup* made = family_setup(setups, f);
        if (made && made->crc == crc) out.push_back(f);
    }
    return out;
}

// The encoder the bank was made by: the family of the replaced sound's
// set-up, and where that is more than one, the one the bank's other sounds
// narrow it to. Stock when nothing tells them apart.
VorbisVariant bank_family(const EncodeTarget& t, VorbisSetupCache& cache, const VorbisSetup& old) {
    std::vector<VorbisVariant> left = families_making(cache, t.old_channels, t.old_rate, old.crc);
    if (left.empty()) return old.variant;
    for (const EncodeTarget::OtherSetup& other : t.bank_setups) {
        if (left.size() == 1) break;
        const std::vector<VorbisVariant> theirs = families_making(cache, other.channels, other.rate, other.crc);
        std::vector<VorbisVariant> both;
        for (const VorbisVariant f : left) {
            if (std::find(theirs.begin(), theirs.end(), f) != theirs.end()) both.push_back(f);
        }
        if (!both.empty()) left = both;
    }
    return left.front();
}

}  // namespace

const VorbisSetup* vorbis_family_setup(const EncodeTarget& t, std::uint32_t crc, VorbisSetupCache& cache,
                                       std::string& why) {
    const VorbisSetup* old = old_setup(t, cache, why);
    if (!old) return nullptr;
    const VorbisSetup* found = cache.find(t.channels, t.rate, crc);
    if (!found) {
        why = "its set-up (CRC " + std::to_string(crc) + ") is none readers regenerate at its rate and channels";
        return nullptr;
    }
    // The family's own at that step, as make_vorbis_encoder picks it.
    const std::vector<VorbisSetup> setups = make_vorbis_setups(t.channels, t.rate, found->quality);
    const VorbisVariant family = bank_family(t, cache, *old);
    const VorbisSetup* want = family_setup(setups, family);
    if (!want || want->crc != crc) {
        why = std::string("its set-up is not one the ") + family_text(family) + " makes";
        return nullptr;
    }
    return found;
}

std::unique_ptr<SoundEncoder> make_vorbis_encoder(const EncodeTarget& t, std::string& why) {
    VorbisSetupCache cache;
    const VorbisSetup* old = old_setup(t, cache, why);
    if (!old) return nullptr;
    const VorbisVariant family = bank_family(t, cache, *old);
    const int step = old->quality;
    if (!tabulated(t.channels, t.rate)) {
        why = "the replacement has " + std::to_string(t.channels) + " channels at " + std::to_string(t.rate) +
              " Hz; " + what_fits(family_text(family));
        return nullptr;
    }
    const std::vector<VorbisSetup> setups = make_vorbis_setups(t.channels, t.rate, step);
    const VorbisSetup* want = family_setup(setups, family);
    if (!want || !cache.find(t.channels, t.rate, want->crc)) {
        why = std::string("the ") + family_text(family) + " makes no set-up readers regenerate for " +
              std::to_string(t.channels) + " channels at " + std::to_string(t.rate) + " Hz; " +
              std::to_string(t.old_channels) + " channels at " + std::to_string(t.old_rate) + " Hz would fit";
        return nullptr;
    }
    auto setup = make_vorbis_encoder_setup(t.channels, t.rate, *want, why);
    if (!setup) {
        why = std::string("the ") + family_text(family) + " at this quality: " + why;
        return nullptr;
    }
    return std::make_unique<VorbisEncoder>(t, std::move(setup), want->crc);
}

}  // namespace soundlib
