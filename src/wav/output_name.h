// The file name a subsound is written under.
#pragma once

#include <map>
#include <set>
#include <string>

// The names already given in this run, and for each name given more than
// once the number its next repeat starts from.
struct UsedNames {
    std::set<std::string> names;
    std::map<std::string, int> next_number;
};

// The subsound's name with its extension (from the last '.') replaced by
// ".wav"; '/', '\' and control bytes made '_' first, so a name never leaves
// the destination nor reaches the terminal as a command; "subsound_NNNN.wav"
// for a name that is then empty, "." or ".."; a name longer than 255 bytes
// shortened before its ".wav" (at a UTF-8 character boundary); and a name
// already used numbered " (2)", " (3)", ... before its ".wav". Records the
// result in `used`. With `always_wav`, a name without '.' gets ".wav" too.
std::string output_name(const char* subsound_name, int index, UsedNames& used, bool always_wav = false);
