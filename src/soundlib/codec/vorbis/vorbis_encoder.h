// FSB5 Vorbis: libvorbisenc with the encoder and quality step the sound's
// own set-up CRC names, at the replacement's rate and channels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "soundlib/codec/sound_encoder.h"
#include "soundlib/codec/vorbis/vorbis_setup_cache.h"

namespace soundlib {

std::unique_ptr<SoundEncoder> make_vorbis_encoder(const EncodeTarget& target, std::string& why);

// The set-up of this CRC at the target's rate and channels when readers
// regenerate it and it is the one the family of the sound's own encoder
// (its set-up CRC says which) makes at its step; else null with why not.
// Valid while the cache lives.
const VorbisSetup* vorbis_family_setup(const EncodeTarget& target, std::uint32_t crc, VorbisSetupCache& cache,
                                       std::string& why);

// Chunk 11 after the CRC, as the authoring tool writes it: the table's
// bytes, then per second of sound (k x rate <= frames) the last packet
// whose decoding reaches no further than just short of it: the samples it
// brings the sound to, and its offset in the sound's data.
struct VorbisSeekPoint {
    std::uint32_t frames = 0;
    std::uint32_t offset = 0;
};
class VorbisSeekTable {
public:
    explicit VorbisSeekTable(std::uint32_t rate) : rate_(rate) {}
    // Each packet in order: where it starts, and the frames decoding it adds.
    void add_packet(std::uint64_t offset, std::uint64_t frames_added);
    // The chunk's payload for a sound of `frames` frames.
    std::vector<std::uint8_t> chunk(std::uint32_t crc, std::uint64_t frames) const;

private:
    std::uint32_t rate_;
    std::uint64_t reached_ = 0;
    std::uint64_t last_offset_ = 0;
    bool any_ = false;
    std::vector<VorbisSeekPoint> points_;
};

}  // namespace soundlib
