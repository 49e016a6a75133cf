#include "soundlib/codec/pcm/pcm_encoder.h"

#include <cmath>
#include <cstring>

namespace soundlib {

namespace {

std::uint32_t sample_bytes(Codec c) {
    switch (c) {
        case Codec::pcm8: return 1;
        case Codec::pcm16: return 2;
        case Codec::pcm24: return 3;
        default: return 4;
    }
}

class PcmEncoder final : public SoundEncoder {
public:
    explicit PcmEncoder(const EncodeTarget& target) : target_(target), bytes_(sample_bytes(target.codec)) {}

    std::uint64_t stored_bytes() const override { return target_.frames * target_.channels * bytes_; }
    bool exact() const override { return true; }

    bool encode(const double* samples, std::uint32_t frames, std::vector<std::uint8_t>& out,
                std::uint32_t& bad_frame) override {
        const std::size_t n = std::size_t{frames} * target_.channels;
        const std::size_t at = out.size();
        out.resize(at + n * bytes_);
        for (std::size_t i = 0; i < n; ++i) {
            if (!store(samples[i], out.data() + at + i * bytes_)) {
                bad_frame = static_cast<std::uint32_t>(i / target_.channels);
                out.resize(at);
                return false;
            }
        }
        return true;
    }

private:
    // One sample in the bank's format; false when it cannot be stored exactly.
    bool store(double d, std::uint8_t* p) const {
        if (target_.codec == Codec::pcmfloat) {
            const float f = static_cast<float>(d);
            if (static_cast<double>(f) != d) return false;
            std::memcpy(p, &f, 4);  // little-endian hosts only, as the rest of the library
            return true;
        }
        const int bits = static_cast<int>(bytes_) * 8;
        const double x = std::ldexp(d, bits - 1);
        const double top = std::ldexp(1.0, bits - 1);
        if (!(x >= -top && x < top) || std::floor(x) != x) return false;
        const auto u = static_cast<std::uint32_t>(static_cast<std::int64_t>(x));
        switch (target_.codec) {
            case Codec::pcm8: p[0] = static_cast<std::uint8_t>(target_.pcm8_signed ? u : u + 128); break;
            case Codec::pcm16:
                if (target_.pcm_big_endian) {
                    p[0] = static_cast<std::uint8_t>(u >> 8);
                    p[1] = static_cast<std::uint8_t>(u);
                } else {
                    p[0] = static_cast<std::uint8_t>(u);
                    p[1] = static_cast<std::uint8_t>(u >> 8);
                }
                break;
            default:
                for (std::uint32_t k = 0; k < bytes_; ++k) p[k] = static_cast<std::uint8_t>(u >> (8 * k));
                break;
        }
        return true;
    }

    EncodeTarget target_;
    std::uint32_t bytes_;
};

}  // namespace

bool is_pcm_codec(Codec c) {
    return c == Codec::pcm8 || c == Codec::pcm16 || c == Codec::pcm24 || c == Codec::pcm32 || c == Codec::pcmfloat;
}

std::unique_ptr<SoundEncoder> make_pcm_encoder(const EncodeTarget& target) {
    return std::make_unique<PcmEncoder>(target);
}

}  // namespace soundlib
