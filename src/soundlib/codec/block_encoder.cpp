#include "soundlib/codec/block_encoder.h"

#include <algorithm>
#include <cmath>

namespace soundlib::adpcm {

std::int16_t to_s16(double d) {
    const double v = std::nearbyint(d * 32768.0);
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

BlockEncoder::BlockEncoder(const EncodeTarget& target, std::uint32_t block_frames, std::uint32_t channel_block_bytes,
                           bool lanes)
    : target_(target), block_frames_(block_frames), channel_block_bytes_(channel_block_bytes), lanes_(lanes) {
    pcm_.resize(std::size_t{block_frames_} * (lanes_ ? 1 : target_.channels));
}

std::uint64_t BlockEncoder::lane_bytes() const {
    // Whole parts rounded up, block by block, until they make the multiple
    // the reader needs.
    std::uint64_t bytes = blocks() * channel_block_bytes_;
    const std::uint32_t m = std::max<std::uint32_t>(1, target_.whole_multiple);
    for (int k = 0; k < 64 && (bytes * target_.channels) % m != 0; ++k) bytes += channel_block_bytes_;
    return bytes;
}

std::uint64_t BlockEncoder::stored_bytes() const {
    if (lanes_) return lane_bytes() * target_.channels;
    return blocks() * channel_block_bytes_ * target_.channels;
}

void BlockEncoder::begin_pass(std::uint32_t pass) {
    pass_ = pass;
    filled_ = 0;
    written_ = 0;
}

bool BlockEncoder::encode(const double* samples, std::uint32_t frames, std::vector<std::uint8_t>& out,
                          std::uint32_t& bad_frame) {
    (void)bad_frame;
    const std::uint32_t channels = target_.channels;
    for (std::uint32_t f = 0; f < frames; ++f) {
        const double* frame = samples + std::size_t{f} * channels;
        if (lanes_) {
            pcm_[filled_] = to_s16(frame[pass_]);
        } else {
            for (std::uint32_t c = 0; c < channels; ++c) pcm_[std::size_t{c} * block_frames_ + filled_] = to_s16(frame[c]);
        }
        if (++filled_ == block_frames_) flush(out);
    }
    return true;
}

void BlockEncoder::flush(std::vector<std::uint8_t>& out) {
    const std::size_t before = out.size();
    if (lanes_) {
        encode_block(pcm_.data(), pass_, 1, out);
    } else {
        encode_block(pcm_.data(), 0, target_.channels, out);
    }
    written_ += out.size() - before;
    filled_ = 0;
}

void BlockEncoder::end_pass(std::vector<std::uint8_t>& out) {
    if (filled_ > 0) {
        // The rest of the last block repeats its last sample: no step for
        // the predictor to chase past the end.
        const std::uint32_t count = lanes_ ? 1 : target_.channels;
        for (std::uint32_t c = 0; c < count; ++c) {
            std::int16_t* lane = pcm_.data() + std::size_t{c} * block_frames_;
            std::fill(lane + filled_, lane + block_frames_, lane[filled_ - 1]);
        }
        flush(out);
    }
    if (lanes_) out.resize(out.size() + static_cast<std::size_t>(lane_bytes() - written_), 0);
}

}  // namespace soundlib::adpcm
