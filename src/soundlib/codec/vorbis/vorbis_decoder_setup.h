// libvorbis's decoder set-up for one rebuilt set of headers, made once and
// shared by every subsound that uses it: reading the setup header and
// building its codebooks' decode tables costs more than decoding a few
// seconds of audio, and a bank may hold thousands of short sounds of one
// set-up.
#pragma once

#include <vorbis/codec.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "soundlib/codec/vorbis/vorbis_setup.h"

namespace soundlib {

class VorbisDecoderSetup {
public:
    // The headers fed and the codebooks built; null with the reason in
    // detail when libvorbis refuses them.
    static std::shared_ptr<const VorbisDecoderSetup> make(std::uint32_t channels, std::uint32_t rate,
                                                          const VorbisSetup& setup, std::string& detail);
    ~VorbisDecoderSetup();
    VorbisDecoderSetup(const VorbisDecoderSetup&) = delete;
    VorbisDecoderSetup& operator=(const VorbisDecoderSetup&) = delete;

    // For vorbis_synthesis_init and vorbis_packet_blocksize, which take it
    // without const but, with the codebooks built, only read it.
    vorbis_info* info() const { return &info_; }

private:
    VorbisDecoderSetup();
    mutable vorbis_info info_;
    vorbis_comment comment_;
};

// The decoder set-ups made so far, by channels, rate and setup CRC.
class VorbisDecoderSetups {
public:
    std::shared_ptr<const VorbisDecoderSetup> get(std::uint32_t channels, std::uint32_t rate,
                                                  const VorbisSetup& setup, std::string& detail);

private:
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::shared_ptr<const VorbisDecoderSetup>>
        made_;
};

}  // namespace soundlib
