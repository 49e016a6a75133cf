// One FSB5 sample header as stored: its 64-bit word and its chunks, read
// and written by the one code the rebuild and the test banks' writer share.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "soundlib/io/bank_file.h"

namespace soundlib::fsb5 {

// The word's fields: bit 0 "a chunk follows", then these.
inline constexpr int kFrequencyShift = 1;  // 4 bits: a code of kFrequencies
inline constexpr std::uint64_t kFrequencyMask = 0x0F;
inline constexpr int kChannelShift = 5;  // 2 bits: a code of kChannelCounts
inline constexpr std::uint64_t kChannelMask = 0x03;
inline constexpr int kOffsetShift = 7;  // 27 bits: the data offset over 32
inline constexpr std::uint64_t kOffsetMask = 0x07FFFFFF;
inline constexpr int kFramesShift = 34;  // 30 bits: the length in frames

// `word` with the field at `shift` (of `mask` wide) set to `value`.
inline std::uint64_t with_field(std::uint64_t word, int shift, std::uint64_t mask, std::uint64_t value) {
    return (word & ~(mask << shift)) | ((value & mask) << shift);
}

struct SampleHeader {
    std::uint64_t word = 0;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> chunks;  // (type, payload)
    std::size_t bytes = 0;  // as stored
};

// The header at `pos`, which with its chunks must end by `end`.
bool read_sample_header(BankFile& file, std::uint64_t pos, std::uint64_t end, SampleHeader& h);
// As stored: the word (its bit 0 saying whether chunks follow), each chunk
// after its own word saying whether another follows.
std::vector<std::uint8_t> serialize(const SampleHeader& h);
// The first chunk of `type`; null when there is none.
std::vector<std::uint8_t>* find_chunk(SampleHeader& h, std::uint32_t type);

}  // namespace soundlib::fsb5
