// Turns a replacement's samples into a sound's stored bytes, in the sound's
// own codec. The bank writer knows only this interface: it asks for the
// stored size and codec set-up before it writes the header, then feeds the
// samples in blocks, as often as the encoder's passes ask.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "soundlib/bank/subsound_info.h"

namespace soundlib {

// What the stored bytes must be: the codec and layout the bank says for
// the sound, with the replacement's channels and length.
struct EncodeTarget {
    Codec codec = Codec::unknown;
    std::uint32_t channels = 1;
    std::uint64_t frames = 0;
    bool pcm_big_endian = false;
    bool pcm8_signed = false;
    bool adpcm_interleaved = true;  // false: channel k's data is the k-th equal part
    // Not-interleaved layouts whose readers take each channel's part as the
    // stored size over the channels, padding included (FSB5 pads a sound to
    // 32 bytes): the whole is made a multiple of this, so no padding follows.
    std::uint32_t whole_multiple = 1;
    std::uint32_t rate = 0;  // Hz
    // The sound as stored, for codecs whose encoder follows the bank's
    // (Vorbis: chunk 11, whose set-up CRC names encoder and quality).
    std::uint32_t old_channels = 0, old_rate = 0;
    std::vector<std::uint8_t> old_setup;
    // Vorbis: the channels, rate and set-up CRC of the bank's other sounds
    // (distinct ones, a few dozen at most), which tell the encoder where
    // the replaced sound's set-up is made by more than one.
    struct OtherSetup {
        std::uint32_t channels = 0, rate = 0, crc = 0;
        bool operator==(const OtherSetup&) const = default;
    };
    std::vector<OtherSetup> bank_setups;
    // MPEG: the layer and bit rate (bits per second) of the sound replaced,
    // and the multiple of bytes each frame is padded to.
    int mpeg_layer = 3;
    std::uint32_t mpeg_bitrate = 0;
    std::uint32_t mpeg_padding = 1;
};

class SoundEncoder {
public:
    virtual ~SoundEncoder() = default;

    // Bytes the sound takes, known before any is made: headers come first.
    // An encoder that surveys may only know a bound until its survey ends.
    virtual std::uint64_t stored_bytes() const = 0;

    // The length in frames the header gives (after any survey): the
    // replacement's own, unless the decoded sound holds more (MPEG).
    virtual std::uint64_t stored_frames(std::uint64_t frames) const { return frames; }
    // Frames the decoded sound holds before the replacement's first: the
    // replacement's own loop moves by as many.
    virtual std::uint32_t lead() const { return 0; }

    // Whether it must see every sample before the set-up is known (a fit of
    // coefficients): survey() is then given them all, in blocks, first,
    // end_survey() after each pass, as many passes as survey_passes() says
    // when the last one ended.
    virtual bool surveys() const { return false; }
    virtual void survey(const double* samples, std::uint32_t frames) { (void)samples, (void)frames; }
    virtual void end_survey() {}
    virtual std::uint32_t survey_passes() const { return surveys() ? 1 : 0; }

    // Where the stored sound will loop from (its frame, the lead counted),
    // told before the survey: a set-up may hold the decoder's state there.
    virtual void loop_from(std::uint64_t frame) { (void)frame; }

    // The codec set-up the header carries (GC DSP: 0x2E bytes per
    // channel); empty when the codec has none. Known after the survey.
    virtual std::vector<std::uint8_t> setup() const { return {}; }
    // The FSB5 chunk it goes in.
    virtual std::uint32_t setup_chunk() const { return 7; }

    // Non-null ("frames", "packets") when the stored bytes are a file's
    // own units as it stores them: the samples fed are then not looked at,
    // and the writer need not decode them.
    virtual const char* copies() const { return nullptr; }

    // Lossless codecs refuse what they cannot store exactly; the writer
    // then tries every sample before it plans the sound in.
    virtual bool exact() const { return false; }

    // The stored bytes come from this many passes over the samples, each
    // from the first frame (one per channel when each has its own part).
    virtual std::uint32_t passes() const { return 1; }
    virtual void begin_pass(std::uint32_t pass) { (void)pass; }

    // The next `frames` interleaved frames of the pass, each sample in
    // [-1, 1); their bytes appended to `out`. False when a sample cannot be
    // stored (exact codecs), with its frame within the block in `bad_frame`.
    virtual bool encode(const double* samples, std::uint32_t frames, std::vector<std::uint8_t>& out,
                        std::uint32_t& bad_frame) = 0;
    // After a pass's last frames: what its last, partial block leaves.
    virtual void end_pass(std::vector<std::uint8_t>& out) { (void)out; }
};

// The encoder for the target; null with the reason in `why` when its codec
// is not encoded here, or its layout cannot hold the channels.
std::unique_ptr<SoundEncoder> make_sound_encoder(const EncodeTarget& target, std::string& why);

}  // namespace soundlib
