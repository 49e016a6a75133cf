// The one way a checked library failure ends the run, and the texts of the
// library's result codes.
#pragma once

#include "soundlib/soundlib.h"

// A constant text for any code: 0 to 84 have their own, everything else
// gets "Unknown error.".
const char* result_message(FMOD_RESULT result);

// Returns when result is 0. Otherwise prints "FMOD error! (code) message"
// on standard output and ends the process with status -1.
void check_result(FMOD_RESULT result);

// The options form reads many banks, and a failed check there fails the
// sound or the bank it was made for, not the run: once this is called,
// check_result throws a LibraryFailure instead of ending the process.
struct LibraryFailure {
    FMOD_RESULT result;
};
void check_failures_throw();
