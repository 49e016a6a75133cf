// The frames of an MPEG subsound as stored (mpeg_frames.h walks them), for
// an .mp3 file of them: one stream only, so at most two channels.
#pragma once

#include "soundlib/codec/stored_units.h"

namespace soundlib {

StoredChoice make_mpeg_stored(const SubsoundInfo& info, BankFile& file);

}  // namespace soundlib
