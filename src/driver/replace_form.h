// `bankrip --replace FOLDER -o DIR BANK`: the bank written again into DIR,
// with the sounds whose files in FOLDER (named as unpacking names them)
// differ from the sound's own replaced by those files.
#pragma once

#include "driver/options.h"
#include "soundlib/soundlib.h"

// Runs it; the exit status.
int run_replace(const Options& options, FMOD_SYSTEM* system);
