// Rebuilds an open bank with some of its sounds replaced by files (WAV,
// FLAC, Ogg Vorbis, MP3; soundlib/replace): the bank's own kind (FSB3,
// FSB4, FSB5, a .bank file around an FSB5), encrypted
// again with the key it was read with. Sounds not replaced keep their stored
// bytes and every header field but the offsets and sizes that must move;
// whatever is not understood is copied as it is. Data is copied through a
// buffer (or by the system): the bank is never held in memory, only its
// header regions.
//
// A replaced sound is stored in its own codec, by the encoder of its codec
// family (codec/sound_encoder.h): PCM when the file's samples convert
// exactly, the ADPCM codecs by encoders of our own, MPEG through lame and
// twolame, Vorbis through libvorbisenc with the set-up the bank's CRC names.
// An .mp3 or .ogg the sound's codec can store as it is goes in without being
// encoded again: its frames (codec/mpeg/mpeg_passthrough.h) or packets
// (codec/vorbis/vorbis_passthrough.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "soundlib/bank.h"
#include "soundlib/codec/sound_encoder.h"
#include "soundlib/replace/replacement_input.h"

namespace soundlib {

// Where the rebuilt bank goes, from its first byte on.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool write(const void* data, std::size_t size) = 0;
    // `size` bytes of `file` from `offset`, as stored, copied by the system
    // where it can. False with `unsupported` set (and nothing written) where
    // it cannot: the bytes then come through write().
    virtual bool copy(const BankFile& file, std::uint64_t offset, std::uint64_t size, bool& unsupported) {
        (void)file, (void)offset, (void)size;
        unsupported = true;
        return false;
    }
};

// What becomes of one sound of the bank.
struct SoundDecision {
    int index = 0;
    bool replaced = false;
    std::string file;  // the replacement file given for it; empty: none
    // Replaced by the file's own units as it stores them ("frames",
    // "packets"); empty when its samples are encoded.
    std::string copied;
    // Why an .mp3 or .ogg the sound's codec could store as it is was
    // encoded again (other rates, a set-up not of the bank's family...).
    std::string not_copied;
};

class BankRebuild {
public:
    // Whether the file's layout is one this writer rebuilds; false with
    // the reason in `why` (a file of banks back to back, a truncated bank).
    bool check(Bank& bank, std::string& why);

    // Decides for every sound, from the files given per sound index (paths,
    // and how messages name them): a file whose samples, rate and channels
    // equal the sound's own keeps the sound as stored; the others replace
    // theirs. False when something cannot be done; `errors` then says
    // every reason, one per line, and nothing may be written.
    bool plan(Bank& bank, const std::map<int, std::pair<std::string, std::string>>& files,
              std::vector<std::string>& errors);
    const std::vector<SoundDecision>& decisions() const { return decisions_; }

    // Writes the rebuilt bank (after a plan that succeeded). False with
    // the reason in `error`.
    bool write(ByteSink& out, std::string& error);

private:
    struct Replacement {
        std::string path;
        std::string shown;  // how messages name it
        InputShape shape;
        // Open only while read: closed after the plan (a bank may have
        // thousands), opened again to write.
        std::unique_ptr<ReplacementInput> input;
        SubsoundInfo info;  // the sound as stored before
        std::unique_ptr<SoundEncoder> encoder;
        bool loops = false;
        // FSB5: the header's peak chunk, measured again from the file.
        bool measure_peak = false;
        double peak = 0;
        std::uint32_t loop_start = 0, loop_end = 0;
    };
    // Opens a replacement's file again, checking it is the one planned.
    static bool reopen(Replacement& r, std::string& error);

    Bank* bank_ = nullptr;
    std::vector<SoundDecision> decisions_;
    std::map<int, Replacement> replacements_;
};

}  // namespace soundlib
