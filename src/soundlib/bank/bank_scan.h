// Banks at any offset of any file (game archives, engine packages): every
// FSB3/FSB4/FSB5 magic is a candidate, kept when the header after it reads.
#pragma once

#include <vector>

#include "soundlib/bank/bank_notes.h"
#include "soundlib/bank/bank_part.h"

namespace soundlib {

// Appends each bank found, in file order; after a bank the search goes on
// at its end, after a candidate that does not read at the next byte. A bank
// cut short by the end of the file is kept, with a note, and the search goes
// on after its headers; a second one, inside its data, is only noted. Reads
// the file once, in blocks.
void scan_for_banks(BankFile& file, std::vector<BankPart>& parts, NoteLog& log);

}  // namespace soundlib
