// Whether a bank starts at a given offset: used where a bank is guessed at
// rather than pointed to (a key being tried, a scan through any file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundlib/bank/bank_part.h"

namespace soundlib {

// True when the bytes at `start` read as a bank ending by `limit`: its magic,
// a main header whose sizes fit, and the first subsound headers readable.
// Only a bounded number of subsound headers (and of their chunks) is looked
// at, so a probe costs the same whatever the header claims. On success,
// *part is the bank.
bool bank_reads_at(BankFile& file, std::uint64_t start, std::uint64_t limit, BankPart* part = nullptr);

// Tries every key, bit-reversed variant first, on the bank at `start`
// (encrypted from that byte up to `limit`). The first that makes it read
// stays on the file; false when none does.
bool decrypt_with_keys(BankFile& file, const std::vector<std::string>& keys, std::uint64_t start,
                       std::uint64_t limit);

}  // namespace soundlib
