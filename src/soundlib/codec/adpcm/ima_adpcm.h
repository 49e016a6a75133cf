// IMA ADPCM in the Xbox layout: 36-byte blocks per channel, each starting
// afresh from its own header, 64 frames per block.
#pragma once

#include <memory>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

std::unique_ptr<FrameSource> make_ima_adpcm_source(const SubsoundInfo& info, BankFile& file);

}  // namespace soundlib
