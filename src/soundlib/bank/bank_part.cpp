#include "soundlib/bank/bank_part.h"

#include <cstring>

namespace soundlib {

std::uint32_t mpeg_frame_padding(const BankPart& part, std::uint32_t channels) {
    if (channels > 2) return 16;
    if (part.family == BankFamily::fsb5) return 4;
    return (part.flags & 0x40) ? 4 : (part.flags & 0x20) ? 2 : 1;  // FSB3/FSB4 bank flags
}

bool is_bank_magic(const std::uint8_t* bytes) {
    return std::memcmp(bytes, "FSB3", 4) == 0 || std::memcmp(bytes, "FSB4", 4) == 0 ||
           std::memcmp(bytes, "FSB5", 4) == 0;
}

BankReadError read_part_header(BankFile& file, std::uint64_t start, std::uint64_t limit, BankPart& part) {
    std::uint8_t magic[4];
    if (start + 4 > limit || !file.read_exact(start, magic, 4) || !is_bank_magic(magic)) {
        return {FMOD_ERR_FORMAT, "no FSB3, FSB4 or FSB5 magic at offset " + std::to_string(start)};
    }
    part = BankPart{};
    part.start = start;
    part.limit = limit;
    return magic[3] == '5' ? read_fsb5_header(file, part) : read_fsb4_header(file, part);
}

BankReadError walk_subsounds(BankFile& file, const BankPart& part, std::vector<SubsoundRecord>& records,
                             std::uint32_t* chunk_budget) {
    return part.family == BankFamily::fsb5 ? walk_fsb5(file, part, records, chunk_budget)
                                           : walk_fsb4(file, part, records);
}

SubsoundInfo describe_subsound(BankFile& file, const BankPart& part, std::uint32_t i, const SubsoundRecord& record) {
    SubsoundInfo s = part.family == BankFamily::fsb5 ? describe_fsb5(file, part, i, record)
                                                     : describe_fsb4(file, part, i, record);
    // Data past the end of the file (or of the bank's chunk) is not there:
    // describe what is.
    if (s.data.offset + s.data.size > part.limit) {
        s.cut_short = true;
        s.data.size = s.data.offset < part.limit ? part.limit - s.data.offset : 0;
    }
    return s;
}

}  // namespace soundlib
