#include "soundlib/codec/mpeg.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "soundlib/codec/float_to_s16.h"
#include "soundlib/codec/mpeg_frame_header.h"

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

std::string layer_name(const MpegFrameHeader& h) {
    const char* version = h.version == 10 ? "MPEG-1" : h.version == 20 ? "MPEG-2" : "MPEG-2.5";
    return std::string(version) + (h.layer == 2 ? " layer II" : " layer III");
}

class MpegSource final : public FrameSource {
public:
    MpegSource(const SubsoundInfo& info, BankFile& file, std::uint32_t units_per_decoder)
        : data_{&file, info.data.offset, info.data.size},
          channels_(info.channels),
          rate_(info.frequency),
          total_(info.frames),
          padding_(info.mpeg_frame_padding ? info.mpeg_frame_padding : 1),
          frame_(kMpegMaxFrameBytes),
          units_per_decoder_(std::max<std::uint32_t>(units_per_decoder, 8)) {
        // Beyond two channels: stereo streams, the last one mono for an odd count.
        for (std::uint32_t c = 0; c < channels_; c += 2) {
            streams_.push_back(Stream{nullptr, std::min<std::uint32_t>(2, channels_ - c), c});
        }
        marks_.push_back(0);
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
                if (read_frame(pos, s, h, true, why) != FMOD_OK || decode_frame(s, h, pos, out, preroll, why) != FMOD_OK) {
                    if (damage.empty()) damage = why;  // its channels stay silent
                }
                pos = after(pos, h.length);
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

    std::string where(std::uint64_t pos) const {
        return "byte " + std::to_string(pos) + " of the subsound's data (file offset " +
               std::to_string(data_.offset + pos) + ")";
    }

    // Where the next frame stands: past this one and the bank's padding,
    // which counts from the start of the subsound's data.
    std::uint64_t after(std::uint64_t pos, std::uint32_t length) const {
        const std::uint64_t end = pos + length;
        return (end + padding_ - 1) / padding_ * padding_;
    }

    // Layer III main data a frame holds, for the bit reservoir of later ones.
    static std::uint32_t main_data_bytes(const MpegFrameHeader& h) {
        if (h.layer != 3) return 0;
        const std::uint32_t overhead = 4 + (h.crc ? 2 : 0) + h.side_info;
        return h.length > overhead ? h.length - overhead : 0;
    }

    // How far back a layer III frame's main data may begin.
    std::uint32_t reservoir_bytes() const { return layer_ != 3 ? 0 : version_ == 10 ? 511 : 255; }

    // The first frame fixes the layer, the version and so the samples per
    // frame. Damage before it is passed over: the first header that another
    // one of the same kind follows (or the end of the data) counts. Looked
    // for once: a subsound without one is not searched again on every read.
    FMOD_RESULT learn_layout(std::string& detail) {
        if (layout_tried_) {
            detail = layout_problem_;
            return FMOD_ERR_FILE_BAD;
        }
        layout_tried_ = true;
        const FMOD_RESULT r = find_layout(layout_problem_);
        detail = layout_problem_;
        return r;
    }

    FMOD_RESULT find_layout(std::string& detail) {
        std::uint8_t head[4];
        std::string first_problem;
        if (data_.read_at(0, head, 4) == 4) {
            MpegFrameHeader h;
            if (const char* why = parse_mpeg_frame_header(head, h)) {
                first_problem = std::string("no MPEG frame header at ") + where(0) + ": " + why;
            }
        }
        // Through the data a buffer at a time: only a sync word is looked at
        // more closely.
        std::vector<std::uint8_t> buffer(kScanBytes);
        for (std::uint64_t start = 0; start + 4 <= data_.size;) {
            const std::size_t got = data_.read_at(start, buffer.data(), buffer.size());
            if (got < 4) break;
            std::size_t i = 0;
            for (; i + 4 <= got; i += padding_) {
                if (buffer[i] != 0xFF || (buffer[i + 1] & 0xE0) != 0xE0) continue;
                MpegFrameHeader h, next;
                if (parse_mpeg_frame_header(&buffer[i], h)) continue;
                const std::uint64_t pos = start + i;
                const std::uint64_t following = after(pos, h.length);
                const bool alone = following + 4 > data_.size;
                if (!alone && (data_.read_at(following, head, 4) != 4 || parse_mpeg_frame_header(head, next) ||
                               next.layer != h.layer || next.version != h.version)) {
                    continue;
                }
                // A stream that disagrees with its subsound from the first
                // frame on is not damaged here and there: it cannot be
                // decoded at all.
                if ((rate_ != 0 && h.sample_rate != rate_) || h.channels != streams_[0].channels) {
                    detail = "the first MPEG frame (at " + where(pos) + ") has " + std::to_string(h.channels) +
                             " channel(s) at " + std::to_string(h.sample_rate) + " Hz; the subsound's first stream " +
                             std::to_string(streams_[0].channels) + " at " + std::to_string(rate_) + " Hz";
                    return FMOD_ERR_FILE_BAD;
                }
                layer_ = h.layer;
                version_ = h.version;
                if (rate_ == 0) rate_ = h.sample_rate;
                spf_ = h.samples;
                unit_bytes_ = std::max<std::uint64_t>(1, (following - pos) * streams_.size());
                return FMOD_OK;
            }
            start += i;  // the next position the padding allows, past what was looked at
        }
        detail = first_problem.empty() ? "the subsound's data holds no MPEG frame" : first_problem;
        return FMOD_ERR_FILE_BAD;
    }

    // Reads and checks the header at pos, and with `body` the whole frame
    // into frame_.
    FMOD_RESULT read_frame(std::uint64_t pos, const Stream& s, MpegFrameHeader& h, bool body, std::string& detail) {
        if (data_.read_at(pos, frame_.data(), 4) != 4) {
            detail = pos + 4 > data_.size ? "the data ends inside the frame header at " + where(pos)
                                          : "the bank file could not be read at " + where(pos);
            return FMOD_ERR_FILE_BAD;
        }
        if (const char* why = parse_mpeg_frame_header(frame_.data(), h)) {
            detail = std::string("no MPEG frame header at ") + where(pos) + ": " + why;
            return FMOD_ERR_FILE_BAD;
        }
        if (h.layer != layer_ || h.version != version_) {
            detail = "the frame at " + where(pos) + " is " + layer_name(h) + ", the first frame " +
                     layer_name(MpegFrameHeader{version_, layer_});
            return FMOD_ERR_FILE_BAD;
        }
        if (h.sample_rate != rate_) {
            detail = "the frame at " + where(pos) + " has a sample rate of " + std::to_string(h.sample_rate) +
                     " Hz, the subsound " + std::to_string(rate_) + " Hz";
            return FMOD_ERR_FILE_BAD;
        }
        if (h.channels != s.channels) {
            detail = "the frame at " + where(pos) + " has " + std::to_string(h.channels) +
                     " channel(s) where the subsound's layout of " + std::to_string(channels_) + " wants " +
                     std::to_string(s.channels);
            return FMOD_ERR_FILE_BAD;
        }
        if (h.length > data_.size - pos) {
            detail = "the frame at " + where(pos) + " runs past the end of the subsound's data";
            return FMOD_ERR_FILE_BAD;
        }
        if (body && data_.read_at(pos + 4, frame_.data() + 4, h.length - 4) != h.length - 4) {
            detail = "the bank file could not be read at " + where(pos + 4);
            return FMOD_ERR_FILE_BAD;
        }
        return FMOD_OK;
    }

    // Reads the headers of the unit at pos: true when every stream's frame
    // is there, with pos then where the next unit starts and *main (when
    // asked) the least main data of its frames.
    bool unit_headers(std::uint64_t& pos, std::uint32_t* main, std::string& detail) {
        std::uint64_t at = pos;
        std::uint32_t main_bytes = UINT32_MAX;
        for (const Stream& s : streams_) {
            MpegFrameHeader h;
            if (read_frame(at, s, h, false, detail) != FMOD_OK) return false;
            main_bytes = std::min(main_bytes, main_data_bytes(h));
            at = after(at, h.length);
        }
        pos = at;
        if (main) *main = main_bytes;
        return true;
    }

    // One unit as the walk finds it.
    struct Unit {
        std::uint64_t frames_at = 0;  // where its frames start, past any damage
        bool silent = false;          // it stands for frames lost to damage
        std::uint32_t main = 0;       // the least layer III main data of its frames
        std::string damage;           // what was wrong, when anything was
    };

    // Steps pos over one unit. Where the headers do not read right, the
    // damage runs to the next place where a unit does (resync); it stands
    // for as many lost units as fit in it, each given as silence, and damage
    // shorter than half a unit is only passed over. FMOD_ERR_FILE_EOF at the
    // end of the data.
    FMOD_RESULT step(std::uint64_t& pos, Unit* unit) {
        if (pos >= data_.size || data_.size - pos < 4) return FMOD_ERR_FILE_EOF;
        std::string why;
        std::uint64_t at = pos;
        std::uint32_t main = 0;
        if (!unit_headers(at, &main, why)) {
            const std::uint64_t good = resync(pos);
            const std::uint64_t gap = good - pos;
            if (unit) unit->damage = why;
            if (gap * 2 >= unit_bytes_ || good >= data_.size || data_.size - good < 4) {
                pos = gap >= 2 * unit_bytes_ ? pos + unit_bytes_ : good;
                if (unit) unit->silent = true;
                return FMOD_OK;
            }
            at = good;
            if (unit) unit->frames_at = at;
            unit_headers(at, &main, why);  // reads right: resync found it so
        } else if (unit) {
            unit->frames_at = pos;
        }
        pos = at;
        if (unit) unit->main = main;
        return FMOD_OK;
    }

    // The first place after `from` (frame starts keep to the padding) where
    // a unit reads right and is followed by another one or the end. The last
    // answer is kept: a long stretch of damage is asked about once per unit.
    std::uint64_t resync(std::uint64_t from) {
        if (from >= resync_from_ && from < resync_to_) return resync_to_;
        std::uint8_t buffer[4096];
        std::uint64_t pos = (from + 1 + padding_ - 1) / padding_ * padding_;
        std::uint64_t found = data_.size;
        std::string ignored;
        while (found == data_.size && pos + 4 <= data_.size) {
            const std::size_t got = data_.read_at(pos, buffer, sizeof buffer);
            if (got < 4) break;
            for (std::size_t i = 0; i + 4 <= got; i += padding_) {
                if (buffer[i] != 0xFF || (buffer[i + 1] & 0xE0) != 0xE0) continue;
                std::uint64_t next = pos + i;
                if (!unit_headers(next, nullptr, ignored)) continue;
                std::uint64_t after_next = next;
                if (next + 4 > data_.size || unit_headers(after_next, nullptr, ignored)) {
                    found = pos + i;
                    break;
                }
            }
            pos += (got - 3 + padding_ - 1) / padding_ * padding_;
        }
        resync_from_ = from;
        resync_to_ = found;
        return found;
    }

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

    DataRange data_;
    std::uint32_t channels_;
    std::uint32_t rate_;
    std::uint64_t total_;
    std::uint32_t padding_;
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
    std::uint64_t unit_bytes_ = 1;  // what a unit takes in the data, for measuring damage
    int layer_ = 0;
    int version_ = 0;
    bool layout_tried_ = false;
    std::string layout_problem_;  // why no first frame was found
    static constexpr std::size_t kScanBytes = 4096;

    // Units found so far: walked_ of them, the next one starting at
    // frontier_. Where every kMarkEvery-th starts is kept, so the index stays
    // small however long the stream; the others are walked again from there.
    static constexpr std::uint64_t kMarkEvery = 64;
    std::vector<std::uint64_t> marks_;
    std::uint64_t walked_ = 0;
    std::uint64_t frontier_ = 0;
    std::uint64_t pos_ = 0;  // where unit next_unit_ starts
    std::uint64_t resync_from_ = 1;  // the last resync's question and answer
    std::uint64_t resync_to_ = 0;

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
