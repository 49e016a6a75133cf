// Finds the FSB banks a file holds: a bare bank, banks placed back to back
// (Unity .resource files), or the "SND " chunks of a RIFF "FEV " file (the
// .bank files of the vendor's current authoring tool). Only main headers are
// read here; each found bank becomes a part with its own bounds.
#pragma once

#include <string>
#include <vector>

#include "soundlib/bank/bank_part.h"

namespace soundlib {

// Something found while reading a file that does not stop the reading of it.
// `damage` is set when sounds of the file may have been lost to it.
struct BankNote {
    std::string text;
    bool damage = false;
};

// Fails only when the file holds no bank at all and is not a .bank file
// without audio (that one gives no parts and a note). A bank whose main
// header is damaged ends the search there: with parts before it, that is a
// note; as the first, the failure.
BankReadError locate_banks(BankFile& file, std::vector<BankPart>& parts, std::vector<BankNote>& notes);

}  // namespace soundlib

namespace soundlib {

// Every subsound description of the file at once, for tools and tests that
// look at a whole bank; fails where locate_banks() and the walk would.
BankReadError read_bank(BankFile& file, std::vector<SubsoundInfo>& subsounds);

}  // namespace soundlib
