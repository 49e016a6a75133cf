// What the ADPCM decoders share: sample helpers, and a FrameSource over
// fixed-size blocks that reads whole units of blocks through one bounded
// buffer, stops at the subsound's length and says where data is damaged.
// Decoders get a unit's blocks in one call, so their inner loops run long;
// each has mono, stereo and many-channel paths, stereo decoding both
// channels side by side so the two prediction chains overlap.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib::adpcm {

// The low and high 4-bit two's complement codes of a byte, without branches.
inline int low_nibble(std::uint8_t b) { return static_cast<std::int8_t>(static_cast<std::uint8_t>(b << 4)) >> 4; }
inline int high_nibble(std::uint8_t b) { return static_cast<std::int8_t>(b) >> 4; }

// Stores a sample as 16-bit little-endian.
inline void store16(std::uint8_t* out, int value) {
    if constexpr (std::endian::native == std::endian::little) {
        const auto v = static_cast<std::int16_t>(value);
        std::memcpy(out, &v, 2);
    } else {
        const auto v = static_cast<std::uint16_t>(value);
        out[0] = static_cast<std::uint8_t>(v & 0xFF);
        out[1] = static_cast<std::uint8_t>(v >> 8);
    }
}

// The two previous samples of one channel, for codecs that predict from them.
struct History {
    int h1 = 0;
    int h2 = 0;
};

struct BlockLayout {
    const char* codec_label = "ADPCM";
    std::uint32_t channels = 1;
    std::uint32_t block_frames = 0;  // frames one block gives
    // Bytes one block spans: every channel's part when the channels share a
    // block; one channel's part when each channel has a lane of its own.
    std::uint32_t block_bytes = 0;
    bool lane_per_channel = false;  // channel k's blocks are the k-th equal part
    bool carries_history = false;   // a block's samples depend on the blocks before
};

// Every channel's block side by side, `channel_bytes` each, giving
// `block_frames` frames: the layout of all but non-interleaved GC data.
inline BlockLayout shared_block_layout(const char* label, std::uint32_t channels, std::uint32_t block_frames,
                                       std::uint32_t channel_bytes, bool carries_history) {
    BlockLayout layout;
    layout.codec_label = label;
    layout.channels = channels;
    layout.block_frames = block_frames;
    layout.block_bytes = channel_bytes * channels;
    layout.carries_history = carries_history;
    return layout;
}

class BlockSource : public FrameSource {
public:
    BlockSource(const BlockLayout& layout, DataRange data, std::uint64_t total_frames);

    std::uint32_t max_unit_frames() const override { return unit_blocks_ * layout_.block_frames; }
    std::uint64_t seek(std::uint64_t frame) override;
    FMOD_RESULT decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) override;

protected:
    // Decodes `count` blocks of every channel into `out` (interleaved,
    // block_frames frames each). `lanes[k]` points at channel k's first
    // block when each channel has a lane, else lanes[0] at the first block;
    // blocks follow each other block_bytes apart. Returns the blocks decoded
    // whole: fewer than count when the next one is damaged, with the channel
    // whose part is bad in bad_channel and what is wrong in problem. The
    // caller then gives that block as silence and calls again after it.
    virtual std::uint32_t decode_blocks(const std::uint8_t* const* lanes, std::uint32_t count, std::uint8_t* out,
                                        int& bad_channel, std::string& problem) = 0;

    const BlockLayout& layout() const { return layout_; }
    // Per-channel history; kept across units and restored on seeks.
    std::vector<History> history_;

private:
    std::uint64_t lane_offset(std::uint32_t lane) const { return lane * lane_bytes_; }

    BlockLayout layout_;
    DataRange data_;
    std::uint64_t lane_bytes_;     // bytes of each lane (the whole data when there is one)
    std::uint64_t blocks_needed_;  // blocks that hold the subsound's length
    std::uint32_t unit_blocks_;    // blocks one decode() reads
    std::uint64_t next_block_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::vector<const std::uint8_t*> lanes_;
    std::vector<const std::uint8_t*> shifted_;  // lanes_ past the blocks done
    // History at the start of each unit decoded so far (channels entries per
    // unit), so going back restarts exactly from the nearest one.
    std::vector<History> checkpoints_;
    std::string failure_;  // set after damage until the next seek
};

}  // namespace soundlib::adpcm
