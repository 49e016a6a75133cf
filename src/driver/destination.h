// The destination folder as the tool uses it: a prefix for output names.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

// Empty when no destination (or an empty one) is given; otherwise the
// argument, ending with the separator.
std::string destination_text(const char* argument);

// Creates the destination with its parents when it does not exist and checks
// that files can be created in it (in the current folder when it is empty). False, with one line on standard error
// naming its full path, when it cannot be used. `program_folder` is the
// folder relative paths were taken from (empty when the tool stayed where
// it was started).
bool prepare_destination(const std::string& destination, const std::string& program_folder);

// Opens the prepared destination (the current folder when it is empty) for
// the files to be created in; a failure (the folder went away since) is
// reported, and each sound then fails to be created.
bool open_destination(platform::OutputFolder& folder, const std::string& destination);

// For messages about a path from the command line: when it is relative and
// was taken from the tool's own folder, a note that says so; otherwise empty.
std::string relative_path_note(const std::string& argument, const std::string& program_folder);

// The folders of a run's banks below the destination, each bank's levels
// made names (bank_folder_name). Two banks never share one: the last level
// is numbered " (2)", " (3)"... when an earlier bank of the run took its
// name, or its folder under another name (a volume that ignores case), or
// when something that is not a folder stands there (a file, the bank
// itself). Names are given in the order banks ask.
class BankFolders {
public:
    // The volume takes names that differ only in case as one: so are the
    // banks' folder names told apart.
    bool fold_case = false;

    // The bank's folder below the destination, ending with the separator,
    // as a listing shows it: numbered by the names given alone.
    std::string listed(const std::vector<std::string>& levels);
    // Opens the bank's folder level by level from `root`, making what is
    // missing, never through a link. `below` is its path from `root`,
    // ending with the separator; on failure, the path of the level that
    // failed, and `error` says why.
    bool open(const platform::OutputFolder& root, const std::vector<std::string>& levels,
              platform::OutputFolder& folder, std::string& below, std::string& error);

private:
    std::string key(const std::string& path) const;
    std::set<std::string> taken_;  // paths below the destination given to banks
    std::set<std::pair<std::uint64_t, std::uint64_t>> opened_;  // their folders' identities
};
