// IMA ADPCM in the Xbox layout: 36 bytes a channel for 64 frames, each block
// starting from its first sample, with the step index carried on.
#pragma once

#include <memory>

#include "soundlib/codec/sound_encoder.h"

namespace soundlib {

std::unique_ptr<SoundEncoder> make_ima_adpcm_encoder(const EncodeTarget& target);

}  // namespace soundlib
