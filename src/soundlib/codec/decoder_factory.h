// Picks the decoder for a subsound's codec.
#pragma once

#include <memory>
#include <string>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/codec_cache.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

// The format reads of this subsound deliver, known without decoding.
PcmFormat output_format(const SubsoundInfo& info);

struct DecoderChoice {
    std::unique_ptr<FrameSource> source;  // null on failure
    FMOD_RESULT code = FMOD_OK;
    std::string detail;
};

DecoderChoice make_decoder(const SubsoundInfo& info, BankFile& file, CodecCache& cache);

}  // namespace soundlib
