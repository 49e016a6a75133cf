#include "soundlib/codec/mpeg/mpeg.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "soundlib/codec/float_to_s16.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"

namespace soundlib {

namespace {

constexpr std::uint32_t kMaxUnitFrames = 1152;

bool library_ready() {
    // Old libmpg123 versions want one mpg123_init() before the first handle;
    // newer ones ignore it.
    static const bool ready = mpg123_init() == MPG123_OK;
    return ready;
}

struct HandleDeleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};
using Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

// A decoder fed whole frames, one at a time. Float output; no gapless
// trimming, resync, read-ahead or Xing/LAME frame handling, so every frame
// fed gives its samples at once and the count is exactly the frames'.
Handle open_handle(long rate, int channels, std::string& why) {
    if (!library_ready()) {
        why = "libmpg123 could not be initialised";
        return nullptr;
    }
    int err = MPG123_OK;
    Handle h(mpg123_new(nullptr, &err));
    if (!h) {
        why = std::string("libmpg123: ") + mpg123_plain_strerror(err);
        return nullptr;
    }
    const long flags = MPG123_QUIET | MPG123_NO_RESYNC | MPG123_IGNORE_INFOFRAME | MPG123_NO_READAHEAD |
                       MPG123_NO_FRANKENSTEIN | MPG123_SKIP_ID3V2 | MPG123_IGNORE_STREAMLENGTH;
    if (mpg123_param(h.get(), MPG123_FLAGS, flags, 0) != MPG123_OK || mpg123_format_none(h.get()) != MPG123_OK ||
        mpg123_format(h.get(), rate, channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_FLOAT_32) != MPG123_OK ||
        mpg123_open_feed(h.get()) != MPG123_OK) {
        why = std::string("libmpg123: ") + mpg123_strerror(h.get());
        return nullptr;
    }
    return h;
}

class MpegSource final : public FrameSource {
public:
    MpegSource(const SubsoundInfo& info, BankFile& file, std::uint32_t units_per_decoder)
        : frames_({&file, info.data.offset, info.data.size}, info.channels, info.frequency, info.mpeg_frame_padding),
          channels_(info.channels),
          total_(info.frames),
          frame_(kMpegMaxFrameBytes),
          units_per_decoder_(std::max<std::uint32_t>(units_per_decoder, 8)) {
        std::uint32_t first = 0;
        for (const std::uint32_t c : mpeg_stream_channels(channels_)) {
            streams_.push_back(Stream{nullptr, c, first});
            first += c;
        }
        damage_.unit_name = "frames";
    }

    std::uint32_t max_unit_frames() const override { return kMaxUnitFrames; }

    std::uint64_t seek(std::uint64_t frame) override {
        std::string ignored;
        if (spf_ == 0 && learn_layout(ignored) != FMOD_OK) {
            positioned_ = false;  // decode() reports it
            return 0;
        }
        std::uint64_t target = frame / spf_;
        // Index up to the target by headers alone, up to the end of the data.
        while (walked_ < target && walk_unit() == FMOD_OK) {
        }
        target = std::min(target, walked_);
        const std::uint64_t start = preroll_start(target);
        if (positioned_ && next_unit_ >= start && next_unit_ <= target) return next_unit_ * spf_;
        restart(start);
        preroll_until_ = target;
        return start * spf_;
    }

    FMOD_RESULT decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) override {
        frames = 0;
        if (spf_ == 0) {
            const FMOD_RESULT r = learn_layout(detail);
            if (r != FMOD_OK) return r;
        }
        if (!positioned_) {
            restart(0);
            preroll_until_ = 0;
        }
        if (next_unit_ >= preroll_until_ && next_unit_ - decoder_start_ >= units_per_decoder_) renew();
        if (!setup_error_.empty()) {
            positioned_ = false;
            detail = setup_error_;
            return FMOD_ERR_FILE_BAD;
        }
        return decode_unit(out, frames);
    }

    MpegDecoderUse decoder_use() const { return use_; }

private:
    struct Stream {
        Handle handle;
        std::uint32_t channels;
        std::uint32_t first_channel;  // in the merged output
    };

    // Decodes unit next_unit_ into out (silence where it is damaged) and
    // steps past it; nothing at the end of the data or the subsound.
    FMOD_RESULT decode_unit(std::uint8_t* out, std::uint32_t& frames) {
        frames = 0;
        if (next_unit_ * spf_ >= total_) return FMOD_OK;
        std::uint64_t next = pos_;
        Unit unit;
        if (step(next, &unit) != FMOD_OK) return FMOD_OK;  // no room for another frame

        const bool preroll = next_unit_ < preroll_until_;
        std::memset(out, 0, std::size_t{spf_} * channels_ * 2);
        std::string& damage = unit.damage;
        if (!unit.silent) {
            std::uint64_t pos = unit.frames_at;
            for (Stream& s : streams_) {
                MpegFrameHeader h;
                std::string why;
                const std::size_t index = static_cast<std::size_t>(&s - streams_.data());
                if (frames_.read_frame(pos, index, h, frame_.data(), why) != FMOD_OK ||
                    decode_frame(s, h, pos, out, preroll, why) != FMOD_OK) {
                    if (damage.empty()) damage = why;  // its channels stay silent
                }
                pos = frames_.after(pos, h.length);
            }
        }
        // A damaged unit stays silent, and decoding goes on after it.
        if (!preroll) account(next_unit_, 1, !damage.empty(), damage);
        if (next_unit_ == walked_) advance_frontier(next);
        pos_ = next;
        ++next_unit_;
        use_.most_units_read = std::max(use_.most_units_read, next_unit_ - decoder_start_);
        frames = spf_;
        return FMOD_OK;
    }

    // Hands decoding on to fresh decoders at unit next_unit_: they start a
    // little before it and decode up to it to warm up, as after a seek. The
    // warm-up is capped, which only a stretch of damage (no main data to
    // count) would reach.
    void renew() {
        const std::uint64_t target = next_unit_;
        std::uint64_t start = preroll_start(target);
        if (target - start > kMaxRenewalWarmUp) start = (target - kMaxRenewalWarmUp + 7) / 8 * 8;
        restart(start);
        preroll_until_ = target;
        warm_up_.resize(std::size_t{spf_} * channels_ * 2);
        std::uint32_t frames = 0;
        while (setup_error_.empty() && next_unit_ < target) {
            if (decode_unit(warm_up_.data(), frames) != FMOD_OK || frames == 0) break;
        }
    }

    std::string where(std::uint64_t pos) const { return frames_.where(pos); }

    // How far back a layer III frame's main data may begin.
    std::uint32_t reservoir_bytes() const {
        const MpegLayout& l = frames_.layout();
        return l.layer != 3 ? 0 : l.version == 10 ? 511 : 255;
    }

    // The first frames fix the layer, the version, the padding and so the
    // samples per frame; the units start after a Xing/Info tag.
    FMOD_RESULT learn_layout(std::string& detail) {
        const FMOD_RESULT r = frames_.learn(detail);
        if (r != FMOD_OK) return r;
        const MpegLayout& l = frames_.layout();
        spf_ = l.samples;
        rate_ = l.sample_rate;
        marks_.assign(1, l.sound_start);
        walked_ = 0;
        frontier_ = l.sound_start;
        return FMOD_OK;
    }

    using Unit = MpegFrames::Unit;
    FMOD_RESULT step(std::uint64_t& pos, Unit* unit) { return frames_.step(pos, unit); }

    // Extends the index by one unit from its headers.
    FMOD_RESULT walk_unit() {
        std::uint64_t pos = frontier_;
        const FMOD_RESULT r = step(pos, nullptr);
        if (r == FMOD_OK) advance_frontier(pos);
        return r;
    }

    void advance_frontier(std::uint64_t next_start) {
        ++walked_;
        frontier_ = next_start;
        if (walked_ % kMarkEvery == 0) marks_.push_back(next_start);
    }

    // Where a unit up to the frontier starts: walked again from the mark
    // before it.
    std::uint64_t start_of(std::uint64_t unit) {
        std::uint64_t pos = marks_[unit / kMarkEvery];
        for (std::uint64_t u = unit / kMarkEvery * kMarkEvery; u < unit; ++u) step(pos, nullptr);
        return pos;
    }

    // The unit to start decoding at so that `target` comes out exactly as in
    // a run from the start: the two frames before it must decode right (the
    // overlap and the synthesis filter carry over from them), so their bit
    // reservoir must have been fed. A multiple of 8 units, so that the
    // decoder's rotating buffers stand as they would have.
    std::uint64_t preroll_start(std::uint64_t target) {
        if (target < 3) return 0;
        std::uint64_t s = target - 2;
        std::uint32_t have = 0;
        std::vector<std::uint32_t> mains;  // of the units from the mark before s up to s
        while (s > 0 && have < reservoir_bytes()) {
            const std::uint64_t mark = (s - 1) / kMarkEvery * kMarkEvery;
            mains.assign(s - mark, 0);
            std::uint64_t pos = marks_[mark / kMarkEvery];
            Unit u;
            for (std::uint32_t& m : mains) {
                step(pos, &u);
                m = u.main;
            }
            while (s > mark && have < reservoir_bytes()) {
                --s;
                have += mains[s - mark];
            }
        }
        if (s > 0) --s;  // one more for good measure
        return s / 8 * 8;
    }

    void restart(std::uint64_t unit) {
        setup_error_.clear();
        ++use_.decoders;
        decoder_start_ = unit;
        for (Stream& s : streams_) {
            s.handle = open_handle(static_cast<long>(rate_), static_cast<int>(s.channels), setup_error_);
            if (!s.handle) break;
        }
        next_unit_ = unit;
        pos_ = start_of(unit);
        positioned_ = true;
    }

    // Decodes the frame in frame_ into its channels of out.
    FMOD_RESULT decode_frame(Stream& s, const MpegFrameHeader& h, std::uint64_t pos, std::uint8_t* out, bool preroll,
                             std::string& detail) {
        mpg123_handle* mh = s.handle.get();
        if (mpg123_feed(mh, frame_.data(), h.length) != MPG123_OK) {
            detail = std::string("libmpg123 refused the frame at ") + where(pos) + ": " + mpg123_strerror(mh);
            return FMOD_ERR_INTERNAL;
        }
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        int r = MPG123_OK;
        for (int tries = 0; tries < 4; ++tries) {
            off_t num = 0;
            r = mpg123_decode_frame(mh, &num, &audio, &bytes);
            if (r == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channels = 0, encoding = 0;
                mpg123_getformat(mh, &rate, &channels, &encoding);
                if (rate != static_cast<long>(rate_) || channels != static_cast<int>(s.channels) ||
                    encoding != MPG123_ENC_FLOAT_32) {
                    detail = "libmpg123 chose an unexpected output format at " + where(pos);
                    return FMOD_ERR_INTERNAL;
                }
                continue;
            }
            if (r != MPG123_OK || bytes > 0) break;
        }
        const std::size_t want = static_cast<std::size_t>(spf_) * s.channels * sizeof(float);
        if (r != MPG123_OK || bytes != want) {
            if (!preroll) {
                detail = "libmpg123 could not decode the frame at " + where(pos) + ": " +
                         (r == MPG123_OK || r == MPG123_NEED_MORE ? std::to_string(bytes / sizeof(float) / s.channels) +
                                                                        " samples instead of " + std::to_string(spf_)
                                                                  : std::string(mpg123_strerror(mh)));
                return FMOD_ERR_FILE_BAD;
            }
            // A frame decoded only to warm up the decoder: its samples are
            // thrown away, however it went.
            bytes = 0;
        }
        const std::size_t samples = std::size_t{spf_} * s.channels;
        if (bytes == 0) {
            std::memset(zeros_.data(), 0, samples * sizeof(float));
            audio = reinterpret_cast<unsigned char*>(zeros_.data());
        }
        const auto* x = reinterpret_cast<const float*>(audio);
        if (streams_.size() == 1) {
            floats_to_s16(x, samples, out);
            return FMOD_OK;
        }
        // Several streams: each fills its own channels of the frames.
        for (std::uint32_t i = 0; i < spf_; ++i) {
            std::uint8_t* dst = out + (static_cast<std::size_t>(i) * channels_ + s.first_channel) * 2;
            floats_to_s16(x + std::size_t{i} * s.channels, s.channels, dst);
        }
        return FMOD_OK;
    }

    MpegFrames frames_;
    std::uint32_t channels_;
    std::uint32_t rate_ = 0;
    std::uint64_t total_;
    std::vector<std::uint8_t> frame_;  // the frame being decoded
    std::vector<float> zeros_ = std::vector<float>(2 * kMaxUnitFrames);  // a warm-up frame's thrown-away samples
    std::vector<Stream> streams_;
    std::uint32_t units_per_decoder_;
    std::uint64_t decoder_start_ = 0;  // the unit the current decoders started at
    static constexpr std::uint64_t kMaxRenewalWarmUp = 256;
    std::vector<std::uint8_t> warm_up_;  // the warm-up units' thrown-away samples
    MpegDecoderUse use_;

    // From the first frame.
    std::uint32_t spf_ = 0;

    // Units found so far: walked_ of them, the next one starting at
    // frontier_. Where every kMarkEvery-th starts is kept, so the index stays
    // small however long the stream; the others are walked again from there.
    static constexpr std::uint64_t kMarkEvery = 64;
    std::vector<std::uint64_t> marks_;
    std::uint64_t walked_ = 0;
    std::uint64_t frontier_ = 0;
    std::uint64_t pos_ = 0;  // where unit next_unit_ starts

    bool positioned_ = false;
    std::uint64_t next_unit_ = 0;
    std::uint64_t preroll_until_ = 0;  // units before it only warm the decoder up
    std::string setup_error_;
};

}  // namespace

std::int16_t mpeg_sample_to_s16(float x) { return float_to_s16(x); }

std::unique_ptr<FrameSource> make_mpeg_source(const SubsoundInfo& info, BankFile& file,
                                              std::uint32_t units_per_decoder) {
    return std::make_unique<MpegSource>(info, file, units_per_decoder);
}

MpegDecoderUse mpeg_decoder_use(const FrameSource& source) {
    const auto* mpeg = dynamic_cast<const MpegSource*>(&source);
    return mpeg ? mpeg->decoder_use() : MpegDecoderUse{};
}

}  // namespace soundlib
