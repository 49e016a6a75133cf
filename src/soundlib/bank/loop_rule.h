// Which sounds loop. Banks store loop points on most sounds whether they
// loop or not (FSB5 writes the whole sound as a loop by default), so the
// stored range alone does not tell; these rules do, the way games play them.
#pragma once

#include <cstdint>

#include "soundlib/bank/subsound_info.h"

namespace soundlib {

// FSB3/FSB4, from a full subsound header's mode flags; a sound with a basic
// header never loops.
bool fsb4_sound_loops(const SubsoundInfo& s, std::uint32_t mode_flags, bool basic_header);

// FSB5: only a sound with a loop chunk can loop.
bool fsb5_sound_loops(const SubsoundInfo& s, bool has_loop_chunk);

}  // namespace soundlib
