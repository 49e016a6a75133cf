// MPEG layer II (twolame) and layer III (lame) sounds: constant bit rate, no
// bit reservoir (the banks' own sounds decode frame by frame: every frame's
// main data starts in itself), no tag frame, each frame padded as the bank
// pads its frames.
#pragma once

#include <memory>
#include <string>

#include "soundlib/codec/sound_encoder.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

// Fills the target's MPEG fields from the sound being replaced: its layer and
// bit rate (from its first frame) and the padding its frames show. False with
// the reason in `why` when its frames cannot be walked.
bool describe_mpeg_sound(const SubsoundInfo& info, BankFile& file, EncodeTarget& target, std::string& why);

// Null with the reason in `why` when the target's rate or channels cannot be
// encoded in its layer, or this build has no MPEG encoder.
std::unique_ptr<SoundEncoder> make_mpeg_encoder(const EncodeTarget& target, std::string& why);

// The encoders' libraries and versions ("libmp3lame 3.100, ..."); empty
// when this build has none.
std::string mpeg_encoder_versions();

}  // namespace soundlib
