// MPEG layer II and III subsounds, decoded through libmpg123.
//
// Frames are walked by their headers past the padding the sound's own first
// frames show (mpeg_frames.h), from the first frame after any Xing/Info tag;
// more than two channels are several streams interleaved frame by frame. A
// unit is one frame of every stream.
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

// One libmpg123 decoder reads at most this many units (plus the warm-up
// before them) before a fresh one takes over: libmpg123 spends time in
// proportion to the frames a decoder has read on each frame it cannot decode
// whole, so a long damaged stream on one decoder costs the square of its
// length. The fresh decoder is warmed up as after a seek, so the output is
// the same.
inline constexpr std::uint32_t kMpegUnitsPerDecoder = 2048;

std::unique_ptr<FrameSource> make_mpeg_source(const SubsoundInfo& info, BankFile& file,
                                              std::uint32_t units_per_decoder = kMpegUnitsPerDecoder);

// How an MPEG source used its decoders so far (null counts for a source of
// another codec): what keeps the work per frame bounded.
struct MpegDecoderUse {
    std::uint64_t decoders = 0;        // sets of decoders opened
    std::uint64_t most_units_read = 0; // by one set, warm-up included
};
MpegDecoderUse mpeg_decoder_use(const FrameSource& source);

// A decoded float sample as 16-bit: x * 32767 truncated toward zero, then
// clamped; the conversion the reference decodes use.
std::int16_t mpeg_sample_to_s16(float x);

}  // namespace soundlib
