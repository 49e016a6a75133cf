// FADPCM (FSB5 codec 16): 140-byte frames of 256 samples per channel,
// channels taking turns frame by frame. Each frame carries its own history,
// so any frame is a starting point.
#pragma once

#include <memory>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

std::unique_ptr<FrameSource> make_fadpcm_source(const SubsoundInfo& info, BankFile& file);

}  // namespace soundlib
