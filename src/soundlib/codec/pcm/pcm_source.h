// Stored PCM delivered as WAV wants it: 8-bit unsigned, 16-bit little-endian;
// 24-bit, 32-bit and float as stored.
#pragma once

#include <memory>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

PcmFormat pcm_output_format(const SubsoundInfo& info);
std::unique_ptr<FrameSource> make_pcm_source(const SubsoundInfo& info, BankFile& file);

}  // namespace soundlib
