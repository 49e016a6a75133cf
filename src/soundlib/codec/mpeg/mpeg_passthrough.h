// An .mp3 (or .mp2) that goes into an MPEG sound as its frames, without
// being encoded again: every frame of the sound's layer, at the file's rate
// and channels, back to back. A leading Xing/Info frame and ID3 tags are left
// out; each frame is padded as the bank pads its frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "soundlib/codec/sound_encoder.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

// Where an MP3 file's frames lie: after an ID3v2 tag, before an ID3v1 one.
void mp3_frames_range(BankFile& file, std::uint64_t& start, std::uint64_t& end);

// The encoder that stores the file's frames for the target (its fields from
// describe_mpeg_sound); null with the reason in `why_not` when the file's
// frames cannot go in as they are.
std::unique_ptr<SoundEncoder> make_mpeg_passthrough(const std::string& path, const EncodeTarget& target,
                                                    std::string& why_not);

}  // namespace soundlib
