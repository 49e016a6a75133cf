#include "soundlib/version.h"

#ifndef SOUNDLIB_VERSION
#define SOUNDLIB_VERSION 0x00041103u
#endif

namespace soundlib {
unsigned int reported_version() { return SOUNDLIB_VERSION; }
}  // namespace soundlib
