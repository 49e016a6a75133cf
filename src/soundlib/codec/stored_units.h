// A subsound's audio as the bank stores it, one unit at a time (a Vorbis
// packet, an MPEG frame), for writing it out without decoding it. Only the
// units that make up the sound are given: they stop after the one that
// reaches the sound's length, and each says how many frames decoding it
// adds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/codec_cache.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

// The largest unit any codec stores: a Vorbis packet's length is 16 bits.
inline constexpr std::size_t kMaxStoredUnitBytes = 65535;

enum class StoredKind { none, vorbis, mpeg };

// What the subsound's units are; none for codecs whose stored form is not
// handed out, with *why_not (may be null) saying why when the codec has one
// but this sound's cannot be a file of its own.
StoredKind stored_kind(const SubsoundInfo& info, const char** why_not);

class StoredUnits {
public:
    virtual ~StoredUnits() = default;

    // The next unit into out (room bytes), with the frames decoding it adds.
    // FMOD_ERR_FILE_EOF after the last one; FMOD_ERR_INVALID_PARAM when it
    // does not fit (`bytes` then says what it needs, and it stays next);
    // another code, with the reason in detail, where the data is cut short
    // or ends before the sound's length. Damaged units are passed over and
    // counted in damage().
    virtual FMOD_RESULT next(std::uint8_t* out, std::size_t room, std::size_t& bytes, std::uint32_t& frames,
                             std::string& detail) = 0;

    // Units back to back into out, as many as fit in room and in `most`
    // (at least one), with their sizes and frames: next() without a call
    // per unit. What ends a batch after its first unit is kept for the
    // next call (an error met then is returned by it, with its detail);
    // when not even the first fits, FMOD_ERR_INVALID_PARAM with sizes[0]
    // what it needs.
    FMOD_RESULT next_batch(std::uint8_t* out, std::size_t room, std::uint32_t* sizes, std::uint32_t* frames,
                           std::size_t most, std::size_t& count, std::string& detail);

    // Back to the first unit.
    void rewind() {
        held_code_ = FMOD_OK;
        held_detail_.clear();
        restart();
    }

    // The frames all the units give, up to the sound's length: what a file
    // of them holds. Walks their headers once, apart from next()'s place.
    virtual std::uint64_t frames_held() = 0;

    // Units given since the start, for picking up the walk again.
    std::uint64_t units_given() const { return given_; }

    // Damage met so far, each unit counted once as the data is walked from
    // its start.
    const DamageReport& damage() const { return damage_; }

protected:
    virtual void restart() = 0;
    // Units a codec can take faster than one next() each, at the start of a
    // batch: as next() would give them (same bytes, frames and end), back to
    // back into out; `used` their bytes. Stops wherever next() would have
    // anything else to say. None by default.
    virtual std::size_t run_of_units(std::uint8_t* out, std::size_t room, std::uint32_t* sizes,
                                     std::uint32_t* frames, std::size_t most, std::size_t& used) {
        (void)out, (void)room, (void)sizes, (void)frames, (void)most;
        used = 0;
        return 0;
    }

    std::uint64_t given_ = 0;
    DamageReport damage_;

private:
    FMOD_RESULT held_code_ = FMOD_OK;  // what ended the last batch early
    std::string held_detail_;
};

struct StoredChoice {
    std::unique_ptr<StoredUnits> units;  // null on failure
    FMOD_RESULT code = FMOD_OK;
    std::string detail;
    // Vorbis: the headers a stream of the packets needs, valid while the cache lives.
    const ByteVector* identification = nullptr;
    const ByteVector* setup = nullptr;
};

StoredChoice make_stored_units(const SubsoundInfo& info, BankFile& file, CodecCache& cache);

}  // namespace soundlib
