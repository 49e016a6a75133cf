// PS ADPCM (VAG): 16-byte frames of 28 samples per channel, channels taking
// turns frame by frame; each sample is predicted from the two before.
#pragma once

#include <memory>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

std::unique_ptr<FrameSource> make_vag_source(const SubsoundInfo& info, BankFile& file);

}  // namespace soundlib
