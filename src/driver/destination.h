// The destination folder as the tool uses it: a prefix for output names.
#pragma once

#include <string>

// Empty when no destination (or an empty one) is given; otherwise the
// argument, ending with the separator.
std::string destination_text(const char* argument);

// Creates the destination with its parents when it does not exist. False,
// with the reason on standard error, when that fails.
bool prepare_destination(const std::string& destination);
