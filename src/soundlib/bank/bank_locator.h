// Finds the FSB banks a file holds: a bare bank, banks placed back to back
// (Unity .resource files), the "SND " chunks of a RIFF "FEV " file (the
// .bank files of the vendor's current authoring tool), or, when asked to
// scan, banks at any offset of any file. Encrypted banks are read with the
// keys given. Only main headers are read here; each found bank becomes a
// part with its own bounds.
#pragma once

#include <string>
#include <vector>

#include "soundlib/bank/bank_notes.h"
#include "soundlib/bank/bank_part.h"

namespace soundlib {

struct OpenOptions {
    std::vector<std::string> keys;  // tried in turn on a bank that does not read as it is
    bool scan = false;              // look for banks at every offset
    bool follow_links = true;       // false: a path ending in a symbolic link does not open
};

// What an open that failed can say about encryption.
struct OpenReport {
    bool maybe_encrypted = false;  // holds bytes that may be an encrypted bank no key fits
    std::size_t keys_tried = 0;
};

// Fails only when the file holds no bank at all and is not a .bank file
// without audio (that one gives no parts and a note). A bank whose main
// header is damaged ends the search there: with parts before it, that is a
// note; as the first, the failure.
BankReadError locate_banks(BankFile& file, std::vector<BankPart>& parts, std::vector<BankNote>& notes,
                           const OpenOptions& options = {}, OpenReport* report = nullptr);

// Every subsound description of the file at once, for tools and tests that
// look at a whole bank; fails where locate_banks() and the walk would.
BankReadError read_bank(BankFile& file, std::vector<SubsoundInfo>& subsounds);

}  // namespace soundlib
