// The writers that keep a sound's original stream: Vorbis packets as an Ogg
// Vorbis file, MPEG frames as an .mp3 file. Nothing is decoded or encoded.
#pragma once

#include <memory>

#include "wav/sound_writer.h"

// NAME.ogg: one Ogg Vorbis stream, paged as libogg pages. The
// identification and set-up headers are the shape's; the comment header is
// ours (a vendor string, TITLE, and LOOPSTART / LOOPLENGTH for a looping
// sound); then the packets as given, on pages whose granule positions add
// up the frames each packet adds, the last one being the sound's length (or
// the frames given, when fewer), so that a decoder gives exactly the
// sound's frames.
std::unique_ptr<SoundWriter> make_ogg_writer();

// NAME.mp3: the frames as given, back to back.
std::unique_ptr<SoundWriter> make_mp3_writer();
