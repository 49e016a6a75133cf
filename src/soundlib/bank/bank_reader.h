// Turns a bank file into a list of subsound descriptions.
//
// Every count, offset and size is checked against the file's real size, in
// 64-bit arithmetic, before it is used; nothing is allocated from an
// unchecked field. A bank that fails gives a result code and a detail text
// saying what is wrong and where.
#pragma once

#include <string>
#include <vector>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/soundlib.h"

namespace soundlib {

struct BankReadError {
    FMOD_RESULT code = FMOD_OK;
    std::string detail;
};

// Chooses the reader by the magic at the start of the file.
BankReadError read_bank(BankFile& file, std::vector<SubsoundInfo>& subsounds);

// The readers behind it, one per container family.
BankReadError read_fsb3_fsb4(BankFile& file, std::vector<SubsoundInfo>& subsounds);
BankReadError read_fsb5(BankFile& file, std::vector<SubsoundInfo>& subsounds);

}  // namespace soundlib
