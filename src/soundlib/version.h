// The version number the library reports; set at build time, so that a
// build reporting an older version can test the tool's refusal of it.
#pragma once

namespace soundlib {
unsigned int reported_version();
}
