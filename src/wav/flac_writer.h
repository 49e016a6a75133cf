// The FLAC writer: the samples a WAV would hold, losslessly compressed.
#pragma once

#include <memory>

#include "wav/sound_writer.h"

// What FLAC can hold: integer samples of 8 to 32 bits, 1 to 8 channels,
// rates from 1 Hz to 1,048,575 Hz. False, with the reason in `why`, for
// anything else (the sound is then written as WAV).
bool flac_can_hold(const SoundShape& shape, std::string& why);

std::unique_ptr<SoundWriter> make_flac_writer();
