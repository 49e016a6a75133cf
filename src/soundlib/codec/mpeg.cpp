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
    MpegSource(const SubsoundInfo& info, BankFile& file)
        : data_{&file, info.data.offset, info.data.size},
          channels_(info.channels),
          rate_(info.frequency),
          total_(info.frames),
          padding_(info.mpeg_frame_padding ? info.mpeg_frame_padding : 1),
          frame_(kMpegMaxFrameBytes) {
        // Beyond two channels: stereo streams, the last one mono for an odd count.
        for (std::uint32_t c = 0; c < channels_; c += 2) {
            streams_.push_back(Stream{nullptr, std::min<std::uint32_t>(2, channels_ - c), c});
        }
        marks_.push_back(0);
    }

    std::uint32_t max_unit_frames() const override { return kMaxUnitFrames; }

    std::uint64_t seek(std::uint64_t frame) override {
        std::string ignored;
        if (spf_ == 0 && learn_layout(ignored) != FMOD_OK) {
            positioned_ = false;  // decode() reports it
            return 0;
        }
        std::uint64_t target = frame / spf_;
        // Index up to the target by headers alone. The walk stops at the end
        // of the data or at damage, which decode() then reports.
        while (walked_ < target && walk_unit(ignored) == FMOD_OK) {
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
        if (!setup_error_.empty()) {
            positioned_ = false;
            detail = setup_error_;
            return FMOD_ERR_INTERNAL;
        }
        if (next_unit_ * spf_ >= total_) return FMOD_OK;
        std::uint64_t pos = pos_;
        if (pos >= data_.size || data_.size - pos < 4) return FMOD_OK;  // no room for another frame

        const bool preroll = next_unit_ < preroll_until_;
        for (Stream& s : streams_) {
            MpegFrameHeader h;
            FMOD_RESULT r = read_frame(pos, s, h, true, detail);
            if (r == FMOD_OK) r = decode_frame(s, h, pos, out, preroll, detail);
            if (r != FMOD_OK) {
                positioned_ = false;
                return r;
            }
            pos = after(pos, h.length);
        }
        if (next_unit_ == walked_) advance_frontier(pos);
        pos_ = pos;
        ++next_unit_;
        frames = spf_;
        return FMOD_OK;
    }

private:
    struct Stream {
        Handle handle;
        std::uint32_t channels;
        std::uint32_t first_channel;  // in the merged output
    };

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

    // The first frame fixes the layer, the version and so the samples per frame.
    FMOD_RESULT learn_layout(std::string& detail) {
        std::uint8_t head[4];
        if (data_.read_at(0, head, 4) != 4) {
            detail = "the subsound's data is too short for an MPEG frame header";
            return FMOD_ERR_FILE_BAD;
        }
        MpegFrameHeader h;
        if (const char* why = parse_mpeg_frame_header(head, h)) {
            detail = std::string("no MPEG frame header at ") + where(0) + ": " + why;
            return FMOD_ERR_FILE_BAD;
        }
        layer_ = h.layer;
        version_ = h.version;
        if (rate_ == 0) rate_ = h.sample_rate;
        spf_ = h.samples;
        return FMOD_OK;
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

    // Reads the headers of the unit at pos; then pos is where the next unit
    // starts and *main (when asked) the least main data of its frames.
    // FMOD_ERR_FILE_EOF at the end of the data.
    FMOD_RESULT step(std::uint64_t& pos, std::uint32_t* main, std::string& detail) {
        if (pos >= data_.size || data_.size - pos < 4) return FMOD_ERR_FILE_EOF;
        std::uint64_t at = pos;
        std::uint32_t main_bytes = UINT32_MAX;
        for (const Stream& s : streams_) {
            MpegFrameHeader h;
            const FMOD_RESULT r = read_frame(at, s, h, false, detail);
            if (r != FMOD_OK) return r;
            main_bytes = std::min(main_bytes, main_data_bytes(h));
            at = after(at, h.length);
        }
        pos = at;
        if (main) *main = main_bytes;
        return FMOD_OK;
    }

    // Extends the index by one unit from its headers.
    FMOD_RESULT walk_unit(std::string& detail) {
        std::uint64_t pos = frontier_;
        const FMOD_RESULT r = step(pos, nullptr, detail);
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
        std::string ignored;
        for (std::uint64_t u = unit / kMarkEvery * kMarkEvery; u < unit; ++u) step(pos, nullptr, ignored);
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
            std::string ignored;
            for (std::uint32_t& m : mains) step(pos, &m, ignored);
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

    // From the first frame.
    std::uint32_t spf_ = 0;
    int layer_ = 0;
    int version_ = 0;

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

std::unique_ptr<FrameSource> make_mpeg_source(const SubsoundInfo& info, BankFile& file) {
    return std::make_unique<MpegSource>(info, file);
}

}  // namespace soundlib
