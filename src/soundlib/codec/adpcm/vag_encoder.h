// PS ADPCM (VAG): 16-byte frames of 28 samples per channel, channels taking
// turns; each frame's filter and shift are the pair that gives the least
// error.
#pragma once

#include <memory>

#include "soundlib/codec/sound_encoder.h"

namespace soundlib {

std::unique_ptr<SoundEncoder> make_vag_encoder(const EncodeTarget& target);

}  // namespace soundlib
