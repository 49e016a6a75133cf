#include "soundlib/codec/adpcm/adpcm_blocks.h"

#include <algorithm>
#include <cstring>

namespace soundlib::adpcm {

namespace {

// About this much stored data per decode(): few file reads, small buffers.
// Fuzzing reads a little of each sound, and a unit is decoded whole however
// little of it is read, so there units are small (and more of them tried).
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr std::uint32_t kUnitBytes = 1024;
#else
constexpr std::uint32_t kUnitBytes = 16 * 1024;
#endif

}  // namespace

BlockSource::BlockSource(const BlockLayout& layout, DataRange data, std::uint64_t total_frames)
    : layout_(layout), data_(data) {
    damage_.unit_name = "blocks";
    if (layout_.channels == 0) layout_.channels = 1;
    if (layout_.block_frames == 0) layout_.block_frames = 1;
    if (layout_.block_bytes == 0) layout_.block_bytes = 1;
    const std::uint32_t lanes = layout_.lane_per_channel ? layout_.channels : 1;
    lane_bytes_ = data_.size / lanes;
    blocks_needed_ = (total_frames + layout_.block_frames - 1) / layout_.block_frames;
    unit_blocks_ = std::max<std::uint32_t>(1, kUnitBytes / (layout_.block_bytes * lanes));
    buffer_.resize(static_cast<std::size_t>(unit_blocks_) * layout_.block_bytes * lanes);
    lanes_.resize(lanes);
    shifted_.resize(lanes);
    history_.resize(layout_.channels);
    if (layout_.carries_history) checkpoints_ = history_;
}

std::uint64_t BlockSource::seek(std::uint64_t frame) {
    failure_.clear();
    std::uint64_t block = std::min(frame / layout_.block_frames, blocks_needed_);
    if (layout_.carries_history) {
        // Only unit starts whose history is known are exact starting points.
        const std::uint64_t known = checkpoints_.size() / layout_.channels;
        const std::uint64_t unit = std::min(block / unit_blocks_, known - 1);
        std::copy_n(checkpoints_.begin() + static_cast<std::ptrdiff_t>(unit * layout_.channels), layout_.channels,
                    history_.begin());
        block = unit * unit_blocks_;
    }
    next_block_ = block;
    return block * layout_.block_frames;
}

FMOD_RESULT BlockSource::decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) {
    frames = 0;
    if (!failure_.empty()) {
        detail = failure_;
        return FMOD_ERR_FILE_BAD;
    }
    if (next_block_ >= blocks_needed_) return FMOD_OK;

    const std::uint32_t bb = layout_.block_bytes;
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(unit_blocks_, blocks_needed_ - next_block_));
    const std::uint64_t at = next_block_ * bb;
    std::uint32_t whole = count;
    bool read_error = false;
    for (std::uint32_t lane = 0; lane < lanes_.size(); ++lane) {
        const std::uint64_t room = at < lane_bytes_ ? lane_bytes_ - at : 0;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t{count} * bb, room));
        const std::size_t got =
            data_.read_at(lane_offset(lane) + at, buffer_.data() + std::size_t{lane} * unit_blocks_ * bb, want);
        if (got < want) read_error = true;
        whole = std::min(whole, static_cast<std::uint32_t>(got / bb));
    }

    for (std::uint32_t lane = 0; lane < lanes_.size(); ++lane) {
        lanes_[lane] = buffer_.data() + std::size_t{lane} * unit_blocks_ * bb;
    }
    // A damaged block becomes silence of its length, with a history of
    // silence for the blocks after it, and decoding goes on.
    const std::size_t block_out = std::size_t{layout_.block_frames} * layout_.channels * 2;
    std::uint32_t done = 0;
    while (done < whole) {
        const std::uint8_t* const* lanes = lanes_.data();
        if (done > 0) {
            for (std::uint32_t lane = 0; lane < lanes_.size(); ++lane) {
                shifted_[lane] = lanes_[lane] + std::size_t{done} * bb;
            }
            lanes = shifted_.data();
        }
        int bad_channel = -1;
        std::string problem;
        const std::uint32_t decoded = decode_blocks(lanes, whole - done, out + done * block_out, bad_channel, problem);
        account(next_block_ + done, decoded, false);
        done += decoded;
        if (done == whole) break;
        const std::uint64_t block = next_block_ + done;
        const std::uint64_t where =
            data_.offset + (layout_.lane_per_channel ? lane_offset(static_cast<std::uint32_t>(bad_channel)) : 0) +
            block * bb;
        // Only the first damage is described: a long damaged stretch costs
        // no text per block.
        account(block, 1, true,
                damage_.units > 0 ? std::string()
                                  : std::string(layout_.codec_label) + " block " + std::to_string(block) + " (byte " +
                                        std::to_string(where) + " of the bank), channel " +
                                        std::to_string(bad_channel) + ": " + problem);
        std::memset(out + done * block_out, 0, block_out);
        std::fill(history_.begin(), history_.end(), History{});
        ++done;
    }
    frames = whole * layout_.block_frames;
    next_block_ += whole;

    if (whole < count) {
        const std::uint64_t block = next_block_;
        if (read_error && (block + 1) * bb <= lane_bytes_) {
            failure_ = std::string(layout_.codec_label) + " data could not be read at byte " +
                       std::to_string(data_.offset + block * bb) + " of the bank";
        } else {
            failure_ = std::string(layout_.codec_label) + " data ends early: the length needs " +
                       std::to_string(blocks_needed_) + " blocks of " + std::to_string(bb) + " bytes" +
                       (layout_.lane_per_channel ? " per channel" : "") + ", the " + std::to_string(data_.size) +
                       " stored bytes at byte " + std::to_string(data_.offset) + " of the bank hold only " +
                       std::to_string(lane_bytes_ / bb);
        }
        detail = failure_;
        return FMOD_ERR_FILE_BAD;
    }

    if (layout_.carries_history && next_block_ % unit_blocks_ == 0 &&
        next_block_ / unit_blocks_ == checkpoints_.size() / layout_.channels) {
        checkpoints_.insert(checkpoints_.end(), history_.begin(), history_.end());
    }
    return FMOD_OK;
}

}  // namespace soundlib::adpcm
