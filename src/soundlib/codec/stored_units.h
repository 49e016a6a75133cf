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

    // Back to the first unit.
    virtual void restart() = 0;

    // The frames all the units give, up to the sound's length: what a file
    // of them holds. Walks their headers once, apart from next()'s place.
    virtual std::uint64_t frames_held() = 0;

    // Units given since the start, for picking up the walk again.
    std::uint64_t units_given() const { return given_; }

    // Damage met so far, each unit counted once as the data is walked from
    // its start.
    const DamageReport& damage() const { return damage_; }

protected:
    std::uint64_t given_ = 0;
    DamageReport damage_;
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
