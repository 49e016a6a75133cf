// Opens a bank through the library's C interface and reads each subsound as
// the tool would, whatever the results: the robustness tests and the fuzzer
// share it. Returns false when the library broke a promise of its interface
// (set-up failed, a valid index had no subsound, a read delivered more than
// was asked for); damaged banks themselves are not a failure here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "soundlib/soundlib.h"

// How much of a bank to read: which subsounds, and how much of each.
struct ReadLimits {
    int max_subsounds = 64;
    int reads_each = 16;                // reads from the start, each of read_bytes
    unsigned int read_bytes = 1 << 16;
    unsigned int max_seek_frame = ~0u;  // the seek to the middle goes no further
    int stored_units = 256;             // units as stored read from the start
};

namespace read_everything_detail {

// The units as stored, where a sound has them: each fits where it went, adds
// no more frames than a unit can, and all of them no more than the sound.
inline bool read_stored(FMOD_SOUND* sub, unsigned int frames, const ReadLimits& limits) {
    const SOUNDLIB_STORED_KIND kind = soundlib_stored_kind(sub, nullptr);
    if (kind == SOUNDLIB_STORED_NONE) return true;
    if (kind == SOUNDLIB_STORED_VORBIS) {
        const unsigned char* id = nullptr;
        const unsigned char* setup = nullptr;
        unsigned int id_bytes = 0, setup_bytes = 0;
        if (soundlib_vorbis_headers(sub, &id, &id_bytes, &setup, &setup_bytes) == FMOD_OK &&
            (!id || !setup || id_bytes == 0 || setup_bytes == 0)) {
            return false;
        }
    }
    unsigned long long held = 0;
    if (soundlib_stored_frames(sub, &held) == FMOD_OK && held > frames) return false;
    const unsigned int most = kind == SOUNDLIB_STORED_VORBIS ? 4096 : 1152;  // half the longest block; a frame
    std::vector<unsigned char> unit(SOUNDLIB_MAX_STORED_UNIT);
    for (int u = 0; u < limits.stored_units; ++u) {
        unsigned int read = 0, unit_frames = 0;
        // Now and then a buffer too small, which must leave the unit next.
        const unsigned int room = u % 7 == 3 ? 8 : SOUNDLIB_MAX_STORED_UNIT;
        const FMOD_RESULT r = soundlib_read_stored(sub, unit.data(), room, &read, &unit_frames);
        if (r == FMOD_ERR_INVALID_PARAM) {
            if (read <= room) return false;
            continue;
        }
        if (r != FMOD_OK) break;
        if (read > room || unit_frames > most) return false;
    }
    soundlib_restart_stored(sub);
    return true;
}

inline bool read_subsounds(FMOD_SOUND* bank, const ReadLimits& limits) {
    int count = 0;
    FMOD_Sound_GetNumSubSounds(bank, &count);
    soundlib_bank_notes(bank, nullptr);
    std::vector<unsigned char> buffer(limits.read_bytes);
    const unsigned int tail_bytes = std::min(4096u, limits.read_bytes);
    for (int i = 0; i < count && i < limits.max_subsounds; ++i) {
        FMOD_SOUND* sub = nullptr;
        if (FMOD_Sound_GetSubSound(bank, i, &sub) != FMOD_OK) return false;
        char name[256];
        FMOD_Sound_GetName(sub, name, sizeof name);
        unsigned int frames = 0, bytes = 0, loop_start = 0, loop_end = 0;
        FMOD_Sound_GetLength(sub, &frames, FMOD_TIMEUNIT_PCM);
        FMOD_Sound_GetLength(sub, &bytes, FMOD_TIMEUNIT_PCMBYTES);
        FMOD_Sound_GetLoopPoints(sub, &loop_start, FMOD_TIMEUNIT_PCM, &loop_end, FMOD_TIMEUNIT_PCM);
        FMOD_Sound_GetFormat(sub, nullptr, nullptr, nullptr, nullptr);
        FMOD_Sound_GetDefaults(sub, nullptr, nullptr, nullptr, nullptr);
        // Enough reads to cross several blocks, bounded for huge claimed lengths.
        for (int r = 0; r < limits.reads_each; ++r) {
            unsigned int got = 0;
            const FMOD_RESULT result = FMOD_Sound_ReadData(sub, buffer.data(), limits.read_bytes, &got);
            if (got > limits.read_bytes) return false;
            if (result != FMOD_OK) break;
        }
        FMOD_Sound_SeekData(sub, std::min(frames / 2, limits.max_seek_frame));
        unsigned int got = 0;
        FMOD_Sound_ReadData(sub, buffer.data(), tail_bytes, &got);
        if (got > tail_bytes) return false;
        soundlib_error_detail(sub);
        soundlib_damaged_units(sub, nullptr, nullptr);
        if (!read_stored(sub, frames, limits)) return false;
    }
    return true;
}

// Opens `name_or_data` with `mode` and reads it.
// With `shared`, through that system (which then keeps what it made, such
// as Vorbis set-ups, for the next); otherwise through one of its own.
inline bool open_and_read(const char* name_or_data, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                          const ReadLimits& limits, FMOD_SYSTEM* shared = nullptr) {
    FMOD_SYSTEM* system = shared;
    if (!system &&
        (FMOD_System_Create(&system) != FMOD_OK || FMOD_System_Init(system, 32, 0, nullptr) != FMOD_OK)) {
        return false;
    }
    bool kept_promises = true;
    FMOD_SOUND* bank = nullptr;
    if (FMOD_System_CreateSound(system, name_or_data, mode, exinfo, &bank) == FMOD_OK) {
        kept_promises = read_subsounds(bank, limits);
        FMOD_Sound_Release(bank);
    }
    if (!shared) FMOD_System_Release(system);
    return kept_promises;
}

}  // namespace read_everything_detail

// The bank in the file at `path`.
inline bool read_everything(const std::string& path, const ReadLimits& limits) {
    return read_everything_detail::open_and_read(path.c_str(), FMOD_CREATESTREAM, nullptr, limits);
}
inline bool read_everything(const std::string& path, int max_subsounds, int reads_each) {
    ReadLimits limits;
    limits.max_subsounds = max_subsounds;
    limits.reads_each = reads_each;
    return read_everything(path, limits);
}

// The bank in `size` bytes at `data`.
inline bool read_everything(const void* data, std::size_t size, const ReadLimits& limits,
                            FMOD_SYSTEM* shared = nullptr) {
    if (size > 0xFFFFFFFFu) return true;  // more than the interface can be given: nothing to check
    FMOD_CREATESOUNDEXINFO exinfo{};
    exinfo.cbsize = static_cast<int>(sizeof(FMOD_CREATESOUNDEXINFO));
    exinfo.length = static_cast<unsigned int>(size);
    // A null pointer is no bank, even an empty one: point an empty one anywhere.
    static const char nothing = 0;
    const char* bytes = size ? static_cast<const char*>(data) : &nothing;
    return read_everything_detail::open_and_read(bytes, FMOD_CREATESTREAM | FMOD_OPENMEMORY, &exinfo, limits, shared);
}
