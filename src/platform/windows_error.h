// The system's own words for the last error of the calling thread, as the
// Windows files of this folder report it.
#pragma once

#include <string>

namespace platform {

// Without the line end and the final full stop, to read like the POSIX texts.
std::string system_error();

}  // namespace platform
