// Nintendo GC DSP ADPCM: 8-byte frames of 14 samples predicted from the two
// before, with eight coefficient pairs per channel from the set-up bytes.
#pragma once

#include <memory>
#include <string>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

// Null, with the reason in detail, when the coefficients cannot be read.
std::unique_ptr<FrameSource> make_gc_adpcm_source(const SubsoundInfo& info, BankFile& file, std::string& detail);

}  // namespace soundlib
