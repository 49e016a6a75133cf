#include "soundlib/codec/pcm/pcm_source.h"

#include <algorithm>
#include <utility>

namespace soundlib {

namespace {

constexpr std::uint32_t kUnitBytes = 64 * 1024;

class PcmSource final : public FrameSource {
public:
    PcmSource(DataRange data, std::uint32_t frame_bytes, bool flip_sign, bool swap16)
        : data_(data),
          frame_bytes_(frame_bytes),
          unit_frames_(kUnitBytes / frame_bytes > 0 ? kUnitBytes / frame_bytes : 1),
          flip_sign_(flip_sign),
          swap16_(swap16) {}

    std::uint32_t max_unit_frames() const override { return unit_frames_; }

    std::uint64_t seek(std::uint64_t frame) override {
        next_ = frame;
        return frame;
    }

    FMOD_RESULT decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) override {
        return decode_up_to(out, unit_frames_, frames, detail);
    }

    // One read straight into out, converted in place.
    FMOD_RESULT decode_up_to(std::uint8_t* out, std::uint32_t max_frames, std::uint32_t& frames,
                             std::string& detail) override {
        const std::uint64_t at = next_ * frame_bytes_;
        const std::uint64_t left = at < data_.size ? data_.size - at : 0;
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(max_frames) * frame_bytes_, left));
        const std::size_t got = data_.read_at(at, out, want);
        frames = static_cast<std::uint32_t>(got / frame_bytes_);
        next_ += frames;
        const std::size_t bytes = static_cast<std::size_t>(frames) * frame_bytes_;
        if (flip_sign_) {
            for (std::size_t i = 0; i < bytes; ++i) out[i] ^= 0x80;
        } else if (swap16_) {
            for (std::size_t i = 0; i + 1 < bytes; i += 2) std::swap(out[i], out[i + 1]);
        }
        if (got < want) {
            detail = "the bank file could not be read at offset " + std::to_string(data_.offset + at + got);
            return FMOD_ERR_FILE_BAD;
        }
        return FMOD_OK;
    }

private:
    DataRange data_;
    std::uint32_t frame_bytes_;
    std::uint32_t unit_frames_;
    bool flip_sign_;
    bool swap16_;
    std::uint64_t next_ = 0;
};

}  // namespace

PcmFormat pcm_output_format(const SubsoundInfo& info) {
    PcmFormat f;
    f.channels = info.channels;
    switch (info.codec) {
        case Codec::pcm8: f.format = FMOD_SOUND_FORMAT_PCM8; f.bits = 8; break;
        case Codec::pcm24: f.format = FMOD_SOUND_FORMAT_PCM24; f.bits = 24; break;
        case Codec::pcm32: f.format = FMOD_SOUND_FORMAT_PCM32; f.bits = 32; break;
        case Codec::pcmfloat: f.format = FMOD_SOUND_FORMAT_PCMFLOAT; f.bits = 32; break;
        default: f.format = FMOD_SOUND_FORMAT_PCM16; f.bits = 16; break;
    }
    return f;
}

std::unique_ptr<FrameSource> make_pcm_source(const SubsoundInfo& info, BankFile& file) {
    const PcmFormat f = pcm_output_format(info);
    const bool flip = info.codec == Codec::pcm8 && info.pcm8_signed;
    const bool swap = info.codec == Codec::pcm16 && info.pcm_big_endian;
    return std::make_unique<PcmSource>(DataRange{&file, info.data.offset, info.data.size}, f.frame_bytes(),
                                       flip, swap);
}

}  // namespace soundlib
