// What the library noticed in a file without failing to open it.
#pragma once

#include "soundlib/soundlib.h"

// Prints the notes (trailing bytes, a file without audio, damage further
// in) on standard error, one line each. True when sounds may have been lost
// to what they say.
bool report_bank_notes(FMOD_SOUND* bank);
