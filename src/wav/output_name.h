// The file name a subsound is written under.
#pragma once

#include <functional>
#include <string>

#include "platform/key_set.h"

// Says whether a name new to the run, byte for byte, reaches a file the run
// has already written: the volume folds names together (case, trailing dots
// and spaces, Unicode forms).
using ReachesWrittenFile = std::function<bool(const std::string& name)>;

// The names already given in this run, kept as 64-bit hashes (two names with
// one hash count as one: at worst a sound is numbered without need, never
// written over another), and for each name given more than once the number
// its next repeat starts from.
struct UsedNames {
    platform::KeySet names;
    platform::KeyNumbers next_number;
    // Windows' own rules: device names and trailing dots and spaces.
    bool windows_rules = WINDOWS_RULES;
    // When set, asked of each name before it is given.
    ReachesWrittenFile reaches_written;

#if defined(_WIN32)
    static constexpr bool WINDOWS_RULES = true;
#else
    static constexpr bool WINDOWS_RULES = false;
#endif
};

// The subsound's name with its extension (from the last '.') replaced by
// ".wav"; '/', '\' and control bytes made '_' first, so a name never leaves
// the destination nor reaches the terminal as a command; "subsound_NNNN.wav"
// for a name that is then empty, "." or ".."; a name longer than 255 bytes
// shortened before its ".wav" (at a UTF-8 character boundary); and a name
// already used, or reaching a file the run wrote, numbered " (2)", " (3)",
// ... before its ".wav". Under Windows' rules a device name (CON, NUL,
// COM1...) gets a '_' before it and trailing dots and spaces become '_'.
// Records the result in `used`. With `always_wav`, a name without '.' gets
// ".wav" too. The options form writes other formats: `extension` then
// stands for ".wav" in all of this.
std::string output_name(const char* subsound_name, int index, UsedNames& used, bool always_wav = false,
                        const char* extension = ".wav");
