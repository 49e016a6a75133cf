#include "soundlib/bank/bank_reader.h"

#include <cstring>

namespace soundlib {

BankReadError read_bank(BankFile& file, std::vector<SubsoundInfo>& subsounds) {
    char magic[4] = {};
    if (!file.read_exact(0, magic, 4)) {
        return {FMOD_ERR_FORMAT, "the file is too short to be a bank (" + std::to_string(file.size()) +
                                     " bytes)"};
    }
    if (std::memcmp(magic, "FSB3", 4) == 0 || std::memcmp(magic, "FSB4", 4) == 0) {
        return read_fsb3_fsb4(file, subsounds);
    }
    if (std::memcmp(magic, "FSB5", 4) == 0) return read_fsb5(file, subsounds);
    return {FMOD_ERR_FORMAT,
            "no FSB3, FSB4 or FSB5 magic at the start of the file; it is not a bank, or an "
            "encrypted one"};
}

}  // namespace soundlib
