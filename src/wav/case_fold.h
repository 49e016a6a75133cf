// Names as a volume that ignores case may take them: for telling, before
// any file is written, which names it would take as one.
#pragma once

#include <string>

// The name with its letters in one case, as the case-insensitive volumes
// fold them (NTFS, exFAT, APFS and the like): ASCII, and in UTF-8 the
// Latin, Greek, Cyrillic and Armenian letters and the fullwidth Latin ones.
// Under Windows' rules names are bytes of an ANSI code page: ASCII and the
// letters at 0xC0 to 0xDE, where the Western, Central European, Cyrillic
// and Greek code pages keep their capitals. A letter folded that the
// volume keeps apart costs at most a number it did not need.
std::string folded_case(const std::string& name, bool windows_rules);
