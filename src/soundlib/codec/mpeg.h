// MPEG layer II and III subsounds, decoded through libmpg123.
//
// Frames are walked by their headers, skipping the bank's padding after each
// one; more than two channels are several streams interleaved frame by frame.
// A unit is one frame of every stream.
//
// Reading on from where the last unit ended never decodes anything twice.
// Reading elsewhere restarts a little before the wanted frame, far enough
// back to refill the layer III bit reservoir (found through an index of frame
// offsets built as the frames are walked); the warm-up frames are thrown away.
#pragma once

#include <cstdint>
#include <memory>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

std::unique_ptr<FrameSource> make_mpeg_source(const SubsoundInfo& info, BankFile& file);

// A decoded float sample as 16-bit: x * 32767 truncated toward zero, then
// clamped; the conversion the reference decodes use.
std::int16_t mpeg_sample_to_s16(float x);

}  // namespace soundlib
