// A libvorbisenc encoder whose setup header is a given one: stock
// libvorbisenc, its lowpass stopped lower (the phone encoder above 44.1
// kHz), or stock with the floors and block sizes of the encoder variants
// (vorbis_setup.h), with a mode for long blocks where stock has one size.
// The header it writes is checked against the one wanted by CRC, so an
// encoder is only ever made for a set-up readers regenerate.
#pragma once

#include <vorbis/codec.h>

#include <memory>
#include <string>

#include "soundlib/codec/vorbis/vorbis_setup.h"

namespace soundlib {

struct VorbisLongBlocks;

class VorbisEncoderSetup {
public:
    ~VorbisEncoderSetup();
    vorbis_info* info() { return &vi_; }
    // To call before info() goes, once the encoder state built on it is cleared.
    void release();

    struct Donor;
    struct Saved;

private:
    friend std::unique_ptr<VorbisEncoderSetup> make_vorbis_encoder_setup(std::uint32_t, std::uint32_t,
                                                                        const VorbisSetup&, std::string&);
    vorbis_info vi_{};
    bool live_ = false;
    std::unique_ptr<Donor> donor_;
    std::unique_ptr<Saved> saved_;
    std::unique_ptr<VorbisLongBlocks> long_blocks_;
};

// An encoder set-up for these channels and rate that writes `want`; null
// with the reason when none of the ways above makes it.
std::unique_ptr<VorbisEncoderSetup> make_vorbis_encoder_setup(std::uint32_t channels, std::uint32_t rate,
                                                              const VorbisSetup& want, std::string& why);

// The setup header the set-up writes (its CRC is what chunk 11 keeps).
bool vorbis_setup_packet_of(vorbis_info& vi, ByteVector& packet);

}  // namespace soundlib
