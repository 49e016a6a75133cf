// FADPCM (FSB5 codec 16): 140-byte frames of 256 samples per channel,
// channels taking turns; each group of 32 samples gets the coefficient
// pair and shift that give the least error, and each frame starts from the
// input's own two samples before it.
#pragma once

#include <memory>

#include "soundlib/codec/sound_encoder.h"

namespace soundlib {

std::unique_ptr<SoundEncoder> make_fadpcm_encoder(const EncodeTarget& target);

}  // namespace soundlib
