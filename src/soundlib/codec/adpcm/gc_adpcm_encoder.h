// GC DSP ADPCM: 8-byte frames of 14 samples per channel, predicted with one
// of eight coefficient pairs per channel. The pairs are fitted to the sound
// (least squares over its frames, clustered into eight) in a survey of all
// its samples; then each frame takes the pair and scale with the least error.
#pragma once

#include <memory>

#include "soundlib/codec/sound_encoder.h"

namespace soundlib {

std::unique_ptr<SoundEncoder> make_gc_adpcm_encoder(const EncodeTarget& target);

}  // namespace soundlib
