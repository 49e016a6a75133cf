// Walking folders and expanding operands, for the options form.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"  // FileId

namespace platform {

enum class EntryKind { regular_file, folder, other, missing };

// What a path names, following symbolic links (a path given by the user).
EntryKind entry_kind(const std::string& path);

struct FolderEntry {
    std::string name;
    EntryKind kind;  // through a symbolic link, what it leads to (POSIX); a link to nothing is `other`
    FileId id;       // of the file or folder, as the walk found it
    bool link = false;  // reached through a symbolic link
};

// The entries of a folder, without "." and "..", sorted by name. False,
// with the reason, when it cannot be read, or when what an entry is cannot
// be told (a folder that can be listed but not entered).
bool list_folder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error);

// On Windows, where the console leaves wildcards to the program, the paths
// that an operand with '*' or '?' in its last part matches, sorted; the
// operand itself when it has none or nothing matches. Elsewhere the shell
// has expanded them already: the operand itself.
std::vector<std::string> expand_wildcards(const std::string& operand);

}  // namespace platform
