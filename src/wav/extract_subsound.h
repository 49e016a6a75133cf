// Writes one subsound to its own WAV file and prints its progress line.
#pragma once

#include <string>

#include "platform/platform.h"
#include "soundlib/soundlib.h"
#include "wav/output_name.h"

// Sample frames moved per read.
constexpr unsigned int CHUNK_FRAMES = 0x40000;
// The widest sample frame written (16 MiB per chunk).
constexpr int MAX_BLOCK_ALIGN = 64;

// `destination` is empty or ends with the separator; `bank_file` is the
// bank being read, which is never written. Returns false when the subsound
// could not be written whole; the reason has then gone to standard error. A
// failing query of the library ends the run (check_result) before any file
// is created. When the destination has been reported unusable
// (`destination_usable` false), a file that cannot be created there is not
// reported again.
bool extract_subsound(FMOD_SOUND* subsound, int index, const std::string& destination, UsedNames& used_names,
                      const platform::FileId& bank_file, bool destination_usable = true);
