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

enum class Written { whole, in_part, not_at_all };

// `destination` is empty or ends with the separator, and `folder` is that
// folder opened (files are created in `folder`; `destination` is how their
// paths are shown); `bank_file` is the
// bank being read, which is never written. Tells how much of the subsound
// reached its file: anything short of all of it has been reported on
// standard error (in part: cut short, or damaged units given as silence). A
// failing query of the library ends the run (check_result) before any file
// is created. When the destination has been reported unusable
// (`destination_usable` false), a file that cannot be created there is not
// reported again.
Written extract_subsound(FMOD_SOUND* subsound, int index, const std::string& destination,
                         platform::OutputFolder& folder, UsedNames& used_names, const platform::FileId& bank_file,
                         bool destination_usable = true);
