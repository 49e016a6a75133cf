// What the ADPCM encoders share: samples gathered into blocks of a fixed
// number of frames per channel, whatever size the writer's blocks are, the
// last one filled out with its last sample; and the stored size, known from
// the length alone.
#pragma once

#include <cstdint>
#include <vector>

#include "soundlib/codec/sound_encoder.h"

namespace soundlib::adpcm {

// A sample in [-1, 1) as 16 bits, rounded.
std::int16_t to_s16(double d);

// The code nearest to `wanted` in steps of `step`, within -8..7.
inline int nearest_code(int wanted, int step) {
    const int code = wanted >= 0 ? (wanted + step / 2) / step : -((-wanted + step / 2) / step);
    return code < -8 ? -8 : code > 7 ? 7 : code;
}

inline int clamp16(int v) { return v < -32768 ? -32768 : v > 32767 ? 32767 : v; }

class BlockEncoder : public SoundEncoder {
public:
    // `lanes`: each channel's blocks make a part of their own, one pass each;
    // otherwise every block holds all channels.
    BlockEncoder(const EncodeTarget& target, std::uint32_t block_frames, std::uint32_t channel_block_bytes, bool lanes);

    std::uint64_t stored_bytes() const override;
    std::uint32_t passes() const override { return lanes_ ? target_.channels : 1; }
    void begin_pass(std::uint32_t pass) override;
    bool encode(const double* samples, std::uint32_t frames, std::vector<std::uint8_t>& out,
                std::uint32_t& bad_frame) override;
    void end_pass(std::vector<std::uint8_t>& out) override;

protected:
    // One block: channels first..first + count - 1, block_frames samples
    // each, channel after channel in `pcm`; its bytes appended to `out`.
    virtual void encode_block(const std::int16_t* pcm, std::uint32_t first, std::uint32_t count,
                              std::vector<std::uint8_t>& out) = 0;

    const EncodeTarget& target() const { return target_; }
    std::uint64_t blocks() const { return (target_.frames + block_frames_ - 1) / block_frames_; }

private:
    void flush(std::vector<std::uint8_t>& out);
    std::uint64_t lane_bytes() const;

    EncodeTarget target_;
    std::uint32_t block_frames_;
    std::uint32_t channel_block_bytes_;
    bool lanes_;
    std::uint32_t pass_ = 0;
    std::uint32_t filled_ = 0;  // frames gathered of the block under way
    std::uint64_t written_ = 0;  // bytes made in this pass
    std::vector<std::int16_t> pcm_;
};

}  // namespace soundlib::adpcm
