// PCM of 8, 16, 24 and 32 bits and float, stored exactly or not at all.
#pragma once

#include <memory>

#include "soundlib/codec/sound_encoder.h"

namespace soundlib {

bool is_pcm_codec(Codec codec);
std::unique_ptr<SoundEncoder> make_pcm_encoder(const EncodeTarget& target);

}  // namespace soundlib
