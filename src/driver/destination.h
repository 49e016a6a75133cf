// The destination folder as the tool uses it: a prefix for output names.
#pragma once

#include <string>

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
