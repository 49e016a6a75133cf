#include "soundlib/codec/mpeg/mpeg_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"

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
    LameBackend(const EncodeTarget& t, std::uint32_t kbps) : gf_(lame_init()), channels_(t.channels) {
        if (!gf_) return;
        lame_set_num_channels(gf_, static_cast<int>(t.channels));
        lame_set_in_samplerate(gf_, static_cast<int>(t.rate));
        lame_set_out_samplerate(gf_, static_cast<int>(t.rate));  // else lame picks one for the bit rate
        lame_set_mode(gf_, t.channels == 1 ? MONO : JOINT_STEREO);
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
    TwolameBackend(const EncodeTarget& t, std::uint32_t kbps) : opts_(twolame_init()) {
        if (!opts_) return;
        twolame_set_num_channels(opts_, static_cast<int>(t.channels));
        twolame_set_in_samplerate(opts_, static_cast<int>(t.rate));
        twolame_set_out_samplerate(opts_, static_cast<int>(t.rate));
        twolame_set_version(opts_, is_mpeg1_rate(t.rate) ? TWOLAME_MPEG1 : TWOLAME_MPEG2);
        twolame_set_mode(opts_, t.channels == 1 ? TWOLAME_MONO : TWOLAME_JOINT_STEREO);
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

// The sound is encoded twice, with the same input and settings, so the same
// bytes: once in the survey, to learn how many frames and bytes it makes
// (the header comes first), then to store them. Nothing is held but the
// frames of one block.
//
// The header's length is every sample of the stored frames, as the banks'
// own sounds say (a multiple of 1,152 or 576). Our decoder removes no
// encoder delay, so that length holds the delay, the whole replacement and
// the encoder's padding of the last frame: it is what our reader decodes, and
// an unpack of it rebuilds as it is.
class MpegEncoder final : public SoundEncoder {
public:
    MpegEncoder(const EncodeTarget& t, std::uint32_t kbps) : t_(t), kbps_(kbps) {
        samples_ = frame_samples(t.mpeg_layer, t.rate);
        const std::uint32_t slot_bytes = (samples_ / 8) * kbps * 1000 / t.rate + 1;
        lead_ = t.mpeg_layer == 3 ? 576 + kLayer3DecoderDelay : kLayer2Delay;
        const std::uint64_t bound_frames = (t.frames + lead_ + 3 * samples_) / samples_ + 3;
        bound_bytes_ = bound_frames * (slot_bytes + t.mpeg_padding);
        bound_samples_ = bound_frames * samples_;
    }

    bool start() {
        if (t_.mpeg_layer == 3) {
            auto lame = std::make_unique<LameBackend>(t_, kbps_);
            if (!lame->ok()) return false;
            lead_ = static_cast<std::uint32_t>(lame->delay()) + kLayer3DecoderDelay;
            backend_ = std::move(lame);
        } else {
            auto two = std::make_unique<TwolameBackend>(t_, kbps_);
            if (!two->ok()) return false;
            backend_ = std::move(two);
        }
        pending_.clear();
        made_ = 0;
        count_ = 0;
        return true;
    }

    void reset() { backend_.reset(); }

    std::uint64_t stored_bytes() const override { return surveyed_ ? bytes_ : bound_bytes_; }
    std::uint64_t stored_frames(std::uint64_t) const override {
        return surveyed_ ? frames_ * samples_ : bound_samples_;
    }
    std::uint32_t lead() const override { return lead_; }

    bool surveys() const override { return true; }
    void survey(const double* samples, std::uint32_t frames) override {
        feed(samples, frames, nullptr);
    }
    void end_survey() override {
        finish(nullptr);
        bytes_ = made_;
        frames_ = count_;
        surveyed_ = true;
    }

    void begin_pass(std::uint32_t) override { start(); }
    bool encode(const double* samples, std::uint32_t frames, Bytes& out, std::uint32_t&) override {
        return feed(samples, frames, &out);
    }
    void end_pass(Bytes& out) override { finish(&out); }

private:
    bool feed(const double* samples, std::uint32_t frames, Bytes* out) {
        if (!backend_ && !start()) return false;
        pcm_.resize(static_cast<std::size_t>(frames) * t_.channels);
        std::transform(samples, samples + pcm_.size(), pcm_.begin(), to_s16);
        if (!backend_->encode(pcm_.data(), static_cast<int>(frames), pending_)) return false;
        cut(out);
        return true;
    }
    void finish(Bytes* out) {
        if (!backend_ && !start()) return;
        backend_->flush(pending_);
        cut(out);
        backend_.reset();
    }

    // Whole frames out of what the encoder gave, each padded from the
    // sound's start as the bank pads; anything else (the encoder is told to
    // write no tag) is dropped.
    void cut(Bytes* out) {
        std::size_t at = 0;
        while (pending_.size() - at >= 4) {
            MpegFrameHeader h;
            if (parse_mpeg_frame_header(pending_.data() + at, h) != nullptr) {
                ++at;
                continue;
            }
            if (pending_.size() - at < h.length) break;
            const std::uint64_t end = made_ + h.length;
            const std::uint64_t padded = (end + t_.mpeg_padding - 1) / t_.mpeg_padding * t_.mpeg_padding;
            if (out) {
                out->insert(out->end(), pending_.begin() + static_cast<std::ptrdiff_t>(at),
                            pending_.begin() + static_cast<std::ptrdiff_t>(at + h.length));
                out->resize(out->size() + static_cast<std::size_t>(padded - end), 0);
            }
            made_ = padded;
            ++count_;
            at += h.length;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    }

    EncodeTarget t_;
    std::uint32_t kbps_;
    std::uint32_t samples_ = 1152;
    std::uint32_t lead_ = 0;
    std::uint64_t bound_bytes_ = 0, bound_samples_ = 0;
    std::unique_ptr<Backend> backend_;
    std::vector<std::int16_t> pcm_;
    Bytes pending_;
    std::uint64_t made_ = 0, count_ = 0;
    bool surveyed_ = false;
    std::uint64_t bytes_ = 0, frames_ = 0;
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
    if (target.channels > 2) {
        why = std::to_string(target.channels) + " channels; MPEG sounds are encoded in 1 or 2 channels";
        return nullptr;
    }
    const std::uint32_t kbps = nearest_bitrate(target.mpeg_layer, target.rate, target.channels, target.mpeg_bitrate);
    auto encoder = std::make_unique<MpegEncoder>(target, kbps);
    if (!encoder->start()) {
        why = std::string(layer3 ? "lame" : "twolame") + " does not take " + std::to_string(target.channels) +
              " channels at " + std::to_string(target.rate) + " Hz and " + std::to_string(kbps) + " kbps";
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
