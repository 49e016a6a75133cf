// An .ogg that goes into a Vorbis sound as its audio packets, without being
// encoded again: one logical Vorbis stream whose set-up header is one the
// sound's encoder family makes at the file's rate and channels (readers
// regenerate it from the CRC chunk 11 keeps). Its three headers are left
// out; each packet goes after its 16-bit length.
#pragma once

#include <memory>
#include <string>

#include "soundlib/codec/sound_encoder.h"

namespace soundlib {

// The encoder that stores the file's packets for the target (its frames the
// file's decoded length); null with the reason in `why_not` when they cannot
// go in as they are.
std::unique_ptr<SoundEncoder> make_vorbis_passthrough(const std::string& path, const EncodeTarget& target,
                                                      std::string& why_not);

}  // namespace soundlib
