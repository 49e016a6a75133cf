#include "soundlib/bank/bank_probe.h"

#include <algorithm>

namespace soundlib {

namespace {
// Enough to tell a bank from noise; few enough that probing every offset of
// a file stays linear in its size. FSB5 chunks are counted too: banks can
// sit in each other's chunks, so that one chain runs on through the chains
// of all the banks after it, and walking it whole for every magic would cost
// the square of the file. Real subsounds have a few chunks each.
constexpr std::uint32_t kProbedSubsounds = 16;
constexpr std::uint32_t kProbedChunks = 64;
}  // namespace

bool bank_reads_at(BankFile& file, std::uint64_t start, std::uint64_t limit, BankPart* part) {
    BankPart found;
    if (read_part_header(file, start, limit, found).code != FMOD_OK) return false;
    BankPart probe = found;
    probe.count = std::min(probe.count, kProbedSubsounds);
    std::vector<SubsoundRecord> records;
    std::uint32_t chunks = kProbedChunks;
    if (walk_subsounds(file, probe, records, &chunks).code != FMOD_OK) return false;
    if (part) *part = found;
    return true;
}

bool decrypt_with_keys(BankFile& file, const std::vector<std::string>& keys, std::uint64_t start,
                       std::uint64_t limit) {
    for (const std::string& key : keys) {
        if (key.empty()) continue;
        for (const bool reverse : {true, false}) {
            if (!file.add_cipher(BankCipher(key, reverse, start, start, limit))) return false;
            if (bank_reads_at(file, start, limit)) return true;
            file.drop_last_cipher();
        }
    }
    return false;
}

}  // namespace soundlib
