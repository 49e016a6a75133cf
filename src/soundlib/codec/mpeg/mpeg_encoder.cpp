#include "soundlib/codec/mpeg/mpeg_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <vector>

#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"
#include "soundlib/io/scratch_file.h"

#ifdef SOUNDLIB_MPEG_ENCODER
#include <lame.h>
#include <twolame.h>
#endif

namespace soundlib {

namespace {

using Bytes = std::vector<std::uint8_t>;

#ifdef SOUNDLIB_MPEG_ENCODER

constexpr std::uint32_t kLayer3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
// twolame writes no MPEG-2.5.
constexpr std::uint32_t kLayer2Rates[] = {16000, 22050, 24000, 32000, 44100, 48000};

bool is_mpeg1_rate(std::uint32_t rate) { return rate >= 32000; }

std::uint32_t frame_samples(int layer, std::uint32_t rate) { return layer == 3 && !is_mpeg1_rate(rate) ? 576 : 1152; }

// The bit rates (kbps) the encoder takes for the layer, rate and channels;
// MPEG-1 layer II allows only some of them in mono and in stereo.
std::vector<std::uint32_t> bitrates(int layer, std::uint32_t rate, std::uint32_t channels) {
    if (!is_mpeg1_rate(rate)) return {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    if (layer == 3) return {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    if (channels == 1) return {32, 48, 56, 64, 80, 96, 112, 128, 160, 192};
    return {64, 96, 112, 128, 160, 192, 224, 256, 320, 384};
}

std::uint32_t nearest_bitrate(int layer, std::uint32_t rate, std::uint32_t channels, std::uint32_t wanted_bps) {
    const std::vector<std::uint32_t> all = bitrates(layer, rate, channels);
    const long long wanted = wanted_bps / 1000;
    return *std::min_element(all.begin(), all.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::llabs(a - wanted) < std::llabs(b - wanted);
    });
}

std::int16_t to_s16(double x) {
    const double v = std::floor(x * 32768.0 + 0.5);
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

// One encoder's run over the samples, its output as the library gives it.
class Backend {
public:
    virtual ~Backend() = default;
    virtual bool encode(const std::int16_t* pcm, int frames, Bytes& out) = 0;
    virtual bool flush(Bytes& out) = 0;
};

class LameBackend final : public Backend {
public:
    LameBackend(std::uint32_t channels, std::uint32_t rate, std::uint32_t kbps) : gf_(lame_init()), channels_(channels) {
        if (!gf_) return;
        lame_set_num_channels(gf_, static_cast<int>(channels));
        lame_set_in_samplerate(gf_, static_cast<int>(rate));
        lame_set_out_samplerate(gf_, static_cast<int>(rate));  // else lame picks one for the bit rate
        lame_set_mode(gf_, channels == 1 ? MONO : JOINT_STEREO);
        lame_set_VBR(gf_, vbr_off);
        lame_set_brate(gf_, static_cast<int>(kbps));
        lame_set_disable_reservoir(gf_, 1);
        lame_set_bWriteVbrTag(gf_, 0);
        lame_set_write_id3tag_automatic(gf_, 0);
        lame_set_original(gf_, 0);  // as the banks' own frames
        ok_ = lame_init_params(gf_) >= 0;
    }
    ~LameBackend() override {
        if (gf_) lame_close(gf_);
    }
    bool ok() const { return ok_; }
    int delay() const { return lame_get_encoder_delay(gf_); }

    bool encode(const std::int16_t* pcm, int frames, Bytes& out) override {
        buffer_.resize(static_cast<std::size_t>(frames) * 5 / 4 + 7200);
        std::vector<short> in(pcm, pcm + static_cast<std::size_t>(frames) * channels_);
        const int made = channels_ == 1
                             ? lame_encode_buffer(gf_, in.data(), in.data(), frames, buffer_.data(),
                                                  static_cast<int>(buffer_.size()))
                             : lame_encode_buffer_interleaved(gf_, in.data(), frames, buffer_.data(),
                                                              static_cast<int>(buffer_.size()));
        return append(made, out);
    }
    bool flush(Bytes& out) override {
        buffer_.resize(7200 * 2);
        return append(lame_encode_flush(gf_, buffer_.data(), static_cast<int>(buffer_.size())), out);
    }

private:
    bool append(int made, Bytes& out) {
        if (made < 0) return false;
        out.insert(out.end(), buffer_.begin(), buffer_.begin() + made);
        return true;
    }
    lame_t gf_;
    std::uint32_t channels_;
    bool ok_ = false;
    Bytes buffer_;
};

class TwolameBackend final : public Backend {
public:
    TwolameBackend(std::uint32_t channels, std::uint32_t rate, std::uint32_t kbps) : opts_(twolame_init()) {
        if (!opts_) return;
        twolame_set_num_channels(opts_, static_cast<int>(channels));
        twolame_set_in_samplerate(opts_, static_cast<int>(rate));
        twolame_set_out_samplerate(opts_, static_cast<int>(rate));
        twolame_set_version(opts_, is_mpeg1_rate(rate) ? TWOLAME_MPEG1 : TWOLAME_MPEG2);
        twolame_set_mode(opts_, channels == 1 ? TWOLAME_MONO : TWOLAME_JOINT_STEREO);
        twolame_set_bitrate(opts_, static_cast<int>(kbps));
        twolame_set_original(opts_, 0);
        ok_ = twolame_init_params(opts_) == 0;
    }
    ~TwolameBackend() override {
        if (opts_) twolame_close(&opts_);
    }
    bool ok() const { return ok_; }

    bool encode(const std::int16_t* pcm, int frames, Bytes& out) override {
        buffer_.resize(static_cast<std::size_t>(frames) * 2 + 16384);
        return append(twolame_encode_buffer_interleaved(opts_, pcm, frames, buffer_.data(),
                                                        static_cast<int>(buffer_.size())),
                      out);
    }
    bool flush(Bytes& out) override {
        buffer_.resize(16384);
        return append(twolame_encode_flush(opts_, buffer_.data(), static_cast<int>(buffer_.size())), out);
    }

private:
    bool append(int made, Bytes& out) {
        if (made < 0) return false;
        out.insert(out.end(), buffer_.begin(), buffer_.begin() + made);
        return true;
    }
    twolame_options* opts_;
    bool ok_ = false;
    Bytes buffer_;
};

// How much later our decoder (libmpg123, nothing trimmed) gives a sample
// than it went in: for layer III lame's own delay (576) and 529 more; for
// layer II twolame's and the decoder's filter banks together, 481 (both
// measured, and checked by the tests).
constexpr std::uint32_t kLayer3DecoderDelay = 529;
constexpr std::uint32_t kLayer2Delay = 481;

// Frame sizes are known only once made, yet the stored size comes before
// the header. So the survey pass encodes into a temporary file (memory stays
// bounded however long the sound), and the write pass copies that file out:
// the sound is encoded once.
//
// The header's length is every sample of the stored frames, as the banks'
// own sounds say (a multiple of 1,152 or 576). Our decoder removes no
// encoder delay, so that length holds the delay, the whole replacement and
// the encoder's padding of the last frame: it is what our reader decodes, and
// an unpack of it rebuilds as it is.
//
// More than two channels are stereo streams (the last one mono for an odd
// count), each its own encoder; a unit of the stored sound is one frame of
// every stream in turn, each padded. The streams take the same samples in,
// so they give as many frames.
class MpegEncoder final : public SoundEncoder {
public:
    MpegEncoder(const EncodeTarget& t, std::vector<std::uint32_t> kbps) : t_(t), kbps_(std::move(kbps)) {
        samples_ = frame_samples(t.mpeg_layer, t.rate);
        std::uint64_t unit_bytes = 0;
        for (const std::uint32_t k : kbps_) unit_bytes += (samples_ / 8) * k * 1000 / t.rate + 1 + t.mpeg_padding;
        lead_ = t.mpeg_layer == 3 ? 576 + kLayer3DecoderDelay : kLayer2Delay;
        const std::uint64_t bound_units = (t.frames + lead_ + 3 * samples_) / samples_ + 3;
        bound_bytes_ = bound_units * unit_bytes;
        bound_samples_ = bound_units * samples_;
    }

    bool start() {
        streams_.clear();
        std::uint32_t first = 0;
        const std::vector<std::uint32_t> channels = mpeg_stream_channels(t_.channels);
        for (std::size_t s = 0; s < channels.size(); ++s) {
            Stream stream{nullptr, channels[s], first, {}, {}};
            first += channels[s];
            if (t_.mpeg_layer == 3) {
                auto lame = std::make_unique<LameBackend>(channels[s], t_.rate, kbps_[s]);
                if (!lame->ok()) return false;
                lead_ = static_cast<std::uint32_t>(lame->delay()) + kLayer3DecoderDelay;
                stream.backend = std::move(lame);
            } else {
                auto two = std::make_unique<TwolameBackend>(channels[s], t_.rate, kbps_[s]);
                if (!two->ok()) return false;
                stream.backend = std::move(two);
            }
            streams_.push_back(std::move(stream));
        }
        made_ = 0;
        count_ = 0;
        return true;
    }

    void reset() { streams_.clear(); }

    std::uint64_t stored_bytes() const override { return surveyed_ ? bytes_ : bound_bytes_; }
    std::uint64_t stored_frames(std::uint64_t) const override {
        return surveyed_ ? units_ * samples_ : bound_samples_;
    }
    std::uint32_t lead() const override { return lead_; }

    bool surveys() const override { return true; }
    void survey(const double* samples, std::uint32_t frames) override {
        if (!open_file()) return;
        made_bytes_.clear();
        if (!feed(samples, frames, &made_bytes_)) failed_ = true;
        keep_made();
    }
    void end_survey() override {
        if (open_file()) {
            made_bytes_.clear();
            finish(&made_bytes_);
            keep_made();
        }
        bytes_ = made_;
        units_ = count_;
        surveyed_ = true;
    }

    void begin_pass(std::uint32_t) override {
        if (!file_.rewind()) failed_ = true;
        frames_seen_ = 0;
    }
    bool encode(const double*, std::uint32_t frames, Bytes& out, std::uint32_t& bad) override {
        bad = 0;
        frames_seen_ += frames;
        const std::uint64_t upto = t_.frames ? bytes_ * std::min(frames_seen_, t_.frames) / t_.frames : bytes_;
        return !failed_ && copy_out(upto, out);
    }
    void end_pass(Bytes& out) override {
        if (!failed_) copy_out(bytes_, out);
    }

private:
    struct Stream {
        std::unique_ptr<Backend> backend;
        std::uint32_t channels = 0, first_channel = 0;
        Bytes pending;             // what the encoder gave, not yet cut into frames
        std::deque<Bytes> frames;  // whole frames waiting for the other streams'
    };

    bool feed(const double* samples, std::uint32_t frames, Bytes* out) {
        if (streams_.empty() && !start()) return false;
        for (Stream& s : streams_) {
            pcm_.resize(static_cast<std::size_t>(frames) * s.channels);
            for (std::uint32_t i = 0; i < frames; ++i) {
                for (std::uint32_t c = 0; c < s.channels; ++c) {
                    pcm_[std::size_t{i} * s.channels + c] = to_s16(samples[std::size_t{i} * t_.channels + s.first_channel + c]);
                }
            }
            if (!s.backend->encode(pcm_.data(), static_cast<int>(frames), s.pending)) return false;
            cut(s);
        }
        emit(out);
        return true;
    }
    void finish(Bytes* out) {
        if (streams_.empty() && !start()) return;
        // twolame's flush ends with the frame of the last sample put in, so
        // the last samples would still be in its filter bank: the delay's
        // worth of silence brings them out. (lame's flush does that itself.)
        const std::vector<std::int16_t> silence(t_.mpeg_layer == 2 ? std::size_t{lead_} * 2 : 0, 0);
        for (Stream& s : streams_) {
            if (!silence.empty()) s.backend->encode(silence.data(), static_cast<int>(lead_), s.pending);
            s.backend->flush(s.pending);
            cut(s);
        }
        emit(out);
        streams_.clear();
    }

    // Whole frames out of what a stream's encoder gave; anything else (the
    // encoder is told to write no tag) is dropped.
    static void cut(Stream& s) {
        std::size_t at = 0;
        while (s.pending.size() - at >= 4) {
            MpegFrameHeader h;
            if (parse_mpeg_frame_header(s.pending.data() + at, h) != nullptr) {
                ++at;
                continue;
            }
            if (s.pending.size() - at < h.length) break;
            s.frames.emplace_back(s.pending.begin() + static_cast<std::ptrdiff_t>(at),
                                  s.pending.begin() + static_cast<std::ptrdiff_t>(at + h.length));
            at += h.length;
        }
        s.pending.erase(s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(at));
    }

    // The units every stream has a frame for, each frame padded from the
    // sound's start as the bank pads.
    void emit(Bytes* out) {
        for (;;) {
            for (const Stream& s : streams_) {
                if (s.frames.empty()) return;
            }
            for (Stream& s : streams_) {
                const Bytes& frame = s.frames.front();
                const std::uint64_t end = made_ + frame.size();
                const std::uint64_t padded = (end + t_.mpeg_padding - 1) / t_.mpeg_padding * t_.mpeg_padding;
                if (out) {
                    out->insert(out->end(), frame.begin(), frame.end());
                    out->resize(out->size() + static_cast<std::size_t>(padded - end), 0);
                }
                made_ = padded;
                s.frames.pop_front();
            }
            ++count_;
        }
    }

    bool open_file() {
        if (!opened_) {
            opened_ = true;
            failed_ = !file_.open();
        }
        return !failed_;
    }
    void keep_made() {
        if (!made_bytes_.empty() && !file_.write(made_bytes_.data(), made_bytes_.size())) failed_ = true;
    }
    bool copy_out(std::uint64_t upto, std::vector<std::uint8_t>& out) {
        if (failed_ || !file_.read_up_to(upto, out)) failed_ = true;
        return !failed_;
    }

    EncodeTarget t_;
    std::vector<std::uint32_t> kbps_;  // by stream
    std::uint32_t samples_ = 1152;
    std::uint32_t lead_ = 0;
    std::uint64_t bound_bytes_ = 0, bound_samples_ = 0;
    std::vector<Stream> streams_;
    std::vector<std::int16_t> pcm_;
    std::uint64_t made_ = 0, count_ = 0;
    bool surveyed_ = false;
    std::uint64_t bytes_ = 0, units_ = 0;
    ScratchFile file_;
    Bytes made_bytes_;  // the frames of the block just encoded
    bool opened_ = false, failed_ = false;
    std::uint64_t frames_seen_ = 0;
};

std::string rate_list(const std::uint32_t* rates, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += (i == 0 ? "" : i + 1 == n ? " or " : ", ") + std::to_string(rates[i]);
    }
    return s + " Hz";
}

#endif

}  // namespace

bool describe_mpeg_sound(const SubsoundInfo& info, BankFile& file, EncodeTarget& target, std::string& why) {
    MpegFrameWalk walk(info, file);
    MpegFrameSpan first;
    std::uint8_t head[4];
    MpegFrameHeader h;
    if (!walk.next(first) || file.read_at(info.data.offset + first.offset, head, 4) != 4 ||
        parse_mpeg_frame_header(head, h) != nullptr) {
        why = "its frames cannot be walked, so its bit rate is not known" +
              (walk.problem().empty() ? std::string() : " (" + walk.problem() + ")");
        return false;
    }
    target.mpeg_layer = h.layer;
    target.mpeg_bitrate = h.bitrate;
    target.mpeg_padding = walk.layout().padding;
    return true;
}

std::unique_ptr<SoundEncoder> make_mpeg_encoder(const EncodeTarget& target, std::string& why) {
#ifndef SOUNDLIB_MPEG_ENCODER
    (void)target;
    why = "this build has no MPEG encoder: it was built without lame and twolame";
    return nullptr;
#else
    const bool layer3 = target.mpeg_layer == 3;
    const std::uint32_t* rates = layer3 ? kLayer3Rates : kLayer2Rates;
    const std::size_t rate_count = layer3 ? std::size(kLayer3Rates) : std::size(kLayer2Rates);
    const std::string layer = layer3 ? "layer III" : "layer II";
    if (std::find(rates, rates + rate_count, target.rate) == rates + rate_count) {
        why = "a rate of " + std::to_string(target.rate) + " Hz, which MPEG " + layer + " cannot store: " +
              rate_list(rates, rate_count) + " would fit";
        return nullptr;
    }
    // The bit rate per channel of the sound replaced (of its first stream),
    // given to each stream of the new one by its channels.
    const std::uint32_t old_first = std::clamp<std::uint32_t>(target.old_channels, 1, 2);
    std::vector<std::uint32_t> kbps;
    for (const std::uint32_t c : mpeg_stream_channels(target.channels)) {
        kbps.push_back(nearest_bitrate(target.mpeg_layer, target.rate, c, target.mpeg_bitrate / old_first * c));
    }
    auto encoder = std::make_unique<MpegEncoder>(target, kbps);
    if (!encoder->start()) {
        why = std::string(layer3 ? "lame" : "twolame") + " does not take " + std::to_string(target.channels) +
              " channels at " + std::to_string(target.rate) + " Hz and " + std::to_string(kbps[0]) + " kbps";
        return nullptr;
    }
    encoder->reset();  // a bank may have thousands replaced: each starts its encoder when it is needed
    return encoder;
#endif
}

std::string mpeg_encoder_versions() {
#ifdef SOUNDLIB_MPEG_ENCODER
    return std::string("libmp3lame ") + get_lame_short_version() + ", libtwolame " + get_twolame_version();
#else
    return "";
#endif
}

}  // namespace soundlib
