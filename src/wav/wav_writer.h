// The WAV writer, for both forms.
#pragma once

#include <memory>

#include "wav/sound_writer.h"

// `loop_chunk`: a looping sound gets a "smpl" chunk after its data (the
// first form writes none).
std::unique_ptr<SoundWriter> make_wav_writer(bool loop_chunk);
