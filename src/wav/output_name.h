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
    // The volume takes names that differ only in case as one: such names
    // are repeats (for names given before any file is written, where
    // reaches_written cannot tell); see case_fold.h for the letters told.
    bool fold_case = false;

#if defined(_WIN32)
    static constexpr bool WINDOWS_RULES = true;
#else
    static constexpr bool WINDOWS_RULES = false;
#endif
};

// The subsound's name with its extension (from the last '.') replaced by
// ".wav"; '/', '\' and control characters (see printable_name) made '_'
// first, so a name never leaves
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

// A text made fit for a terminal: each control character becomes '_' (C0
// and DEL, C1 as UTF-8, and outside Windows' rules a byte 0x80 to 0x9F that
// is not part of a UTF-8 character). What the tool prints of a path or a
// name passes through here; clean text comes out as it went in.
std::string printable_name(const std::string& text, bool windows_rules = UsedNames::WINDOWS_RULES);

// One level of a bank's folder below the destination (a folder of the
// bank's path, or the bank's name without its extension), made a name as a
// sound's is: separators and control characters become '_', "." and ".."
// become "_" and "__", an empty name "_"; under Windows' rules a device name
// gets a '_' before it and trailing dots and spaces become '_'; shortened
// to 255 bytes at a UTF-8 character boundary.
std::string bank_folder_name(const std::string& level, bool windows_rules = UsedNames::WINDOWS_RULES);

// The folder name with " (number)" after it, shortened first so that the
// whole still fits in 255 bytes; the name itself for a number below 2.
std::string numbered_folder_name(const std::string& folder_name, unsigned number);
