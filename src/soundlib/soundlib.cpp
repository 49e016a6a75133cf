// The C interface: checks handles and arguments, turns exceptions into
// result codes, and hands the work to Bank and PcmStream.
#include "soundlib/soundlib.h"

#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "soundlib/bank.h"
#include "soundlib/codec/decoder_factory.h"
#include "soundlib/codec/stored_units.h"
#include "soundlib/version.h"

// What the last failed open of a thread said: opens of one system may run
// on several threads at once, and each asks about its own.
struct LastOpen {
    std::string detail;
    soundlib::OpenReport report;
};

struct FMOD_SYSTEM {
    static constexpr std::uint32_t kMagic = 0x53595354;
    std::uint32_t magic = kMagic;
    bool initialised = false;
    soundlib::CodecCache codecs;  // shared by every bank it opens
    std::mutex last_open_lock;
    std::map<std::thread::id, LastOpen> last_open;  // by thread: a few entries

    void said(LastOpen what) {
        std::lock_guard<std::mutex> held(last_open_lock);
        last_open[std::this_thread::get_id()] = std::move(what);
    }
    LastOpen last() {
        std::lock_guard<std::mutex> held(last_open_lock);
        const auto it = last_open.find(std::this_thread::get_id());
        return it == last_open.end() ? LastOpen{} : it->second;
    }
};

namespace {

using soundlib::Bank;


bool valid(const FMOD_SYSTEM* s) { return s && s->magic == FMOD_SYSTEM::kMagic; }
bool valid(const FMOD_SOUND* s) {
    if (!s || !s->bank) return false;
    if (s->magic == FMOD_SOUND::kBankMagic) return true;
    return s->magic == FMOD_SOUND::kSubsoundMagic && s->bank->index_of(s) >= 0;
}
bool is_subsound(const FMOD_SOUND* s) { return valid(s) && s->magic == FMOD_SOUND::kSubsoundMagic; }
int index_of(const FMOD_SOUND* s) { return s->bank->index_of(s); }

unsigned int clamp32(std::uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned int>(v); }

// The keys in the caller's extra information, as far as its cbsize covers.
std::vector<std::string> keys_of(const FMOD_CREATESOUNDEXINFO* exinfo) {
    std::vector<std::string> keys;
    if (!exinfo) return keys;
    const auto covers = [&](std::size_t end) {
        return exinfo->cbsize >= 0 && static_cast<std::size_t>(exinfo->cbsize) >= end;
    };
    if (covers(offsetof(FMOD_CREATESOUNDEXINFO, encryptionkey) + sizeof exinfo->encryptionkey) &&
        exinfo->encryptionkey && exinfo->encryptionkey[0]) {
        keys.emplace_back(exinfo->encryptionkey);
    }
    if (covers(sizeof(FMOD_CREATESOUNDEXINFO)) && exinfo->encryptionkeys && exinfo->encryptionkeylengths) {
        for (int i = 0; i < exinfo->numencryptionkeys; ++i) {
            const char* key = exinfo->encryptionkeys[i];
            if (key && exinfo->encryptionkeylengths[i]) keys.emplace_back(key, exinfo->encryptionkeylengths[i]);
        }
    }
    return keys;
}

// Every entry point runs its body through this: no exception leaves.
template <typename Body>
FMOD_RESULT guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return FMOD_ERR_MEMORY;
    } catch (...) {
        return FMOD_ERR_INTERNAL;
    }
}

}  // namespace

extern "C" {

FMOD_RESULT FMOD_System_Create(FMOD_SYSTEM** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    *system = nullptr;
    return guarded([&]() -> FMOD_RESULT {
        *system = new FMOD_SYSTEM();
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD_System_GetVersion(FMOD_SYSTEM* system, unsigned int* version) {
    if (!valid(system)) return FMOD_ERR_INVALID_HANDLE;
    if (!version) return FMOD_ERR_INVALID_PARAM;
    *version = soundlib::reported_version();
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_Init(FMOD_SYSTEM* system, int maxchannels, FMOD_INITFLAGS, void*) {
    if (!valid(system)) return FMOD_ERR_INVALID_HANDLE;
    if (maxchannels < 0) return FMOD_ERR_INVALID_PARAM;
    system->initialised = true;
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_CreateSound(FMOD_SYSTEM* system, const char* name, FMOD_MODE mode,
                                    FMOD_CREATESOUNDEXINFO* exinfo, FMOD_SOUND** sound) {
    if (!valid(system)) return FMOD_ERR_INVALID_HANDLE;
    if (!name || !sound) return FMOD_ERR_INVALID_PARAM;
    *sound = nullptr;
    const bool memory = (mode & FMOD_OPENMEMORY) != 0;
    constexpr int kLengthEnd = static_cast<int>(offsetof(FMOD_CREATESOUNDEXINFO, length) + sizeof(unsigned int));
    if (memory && (!exinfo || exinfo->cbsize < kLengthEnd)) {
        return FMOD_ERR_INVALID_PARAM;
    }
    if (!system->initialised) return FMOD_ERR_UNINITIALIZED;
    return guarded([&]() -> FMOD_RESULT {
        system->said({});
        soundlib::OpenOptions options;
        options.keys = keys_of(exinfo);
        options.scan = (mode & SOUNDLIB_SCAN) != 0;
        options.follow_links = (mode & SOUNDLIB_NOFOLLOW) == 0;
        auto bank = std::make_unique<Bank>();
        bank->share_codecs(system->codecs);
        const soundlib::BankReadError error =
            memory ? bank->open_memory(name, exinfo->length, "the bank in memory", options) : bank->open(name, options);
        if (error.code != FMOD_OK) {
            system->said({error.detail, bank->open_report()});
            return error.code;
        }
        auto handle = std::make_unique<FMOD_SOUND>();
        handle->bank = bank.release();
        *sound = handle.release();
        return FMOD_OK;
    });
}

// Why this thread's last duplicate failed: duplicates are made on the
// workers' threads, all of the one bank.
thread_local std::string duplicate_failure;

FMOD_RESULT soundlib_bank_duplicate(FMOD_SOUND* bank, FMOD_SOUND** duplicate) {
    if (!duplicate) return FMOD_ERR_INVALID_PARAM;
    *duplicate = nullptr;
    if (!valid(bank) || is_subsound(bank)) return FMOD_ERR_INVALID_HANDLE;
    return guarded([&]() -> FMOD_RESULT {
        auto copy = std::make_unique<Bank>();
        duplicate_failure.clear();
        if (!copy->open_same(*bank->bank, &duplicate_failure)) return FMOD_ERR_FILE_BAD;
        auto handle = std::make_unique<FMOD_SOUND>();
        handle->bank = copy.release();
        *duplicate = handle.release();
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD_System_Close(FMOD_SYSTEM* system) {
    if (!valid(system)) return FMOD_ERR_INVALID_HANDLE;
    system->initialised = false;
    return FMOD_OK;
}

FMOD_RESULT FMOD_System_Release(FMOD_SYSTEM* system) {
    if (!valid(system)) return FMOD_ERR_INVALID_HANDLE;
    system->magic = 0;
    delete system;
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_GetNumSubSounds(FMOD_SOUND* sound, int* count) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    if (!count) return FMOD_ERR_INVALID_PARAM;
    *count = is_subsound(sound) ? 0 : sound->bank->count();
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_GetSubSound(FMOD_SOUND* sound, int index, FMOD_SOUND** subsound) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    if (!subsound) return FMOD_ERR_INVALID_PARAM;
    *subsound = nullptr;
    if (is_subsound(sound) || index < 0 || index >= sound->bank->count()) return FMOD_ERR_INVALID_PARAM;
    return guarded([&]() -> FMOD_RESULT {
        *subsound = sound->bank->subsound(index);
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD_Sound_GetName(FMOD_SOUND* sound, char* name, int namelen) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    if (!name || namelen <= 0) return FMOD_ERR_INVALID_PARAM;
    name[0] = '\0';
    if (!is_subsound(sound)) return FMOD_OK;
    return guarded([&]() -> FMOD_RESULT {
        const std::string n = sound->bank->name(index_of(sound));
        const std::size_t len = n.size() < static_cast<std::size_t>(namelen - 1) ? n.size()
                                                                                 : static_cast<std::size_t>(namelen - 1);
        std::memcpy(name, n.data(), len);
        name[len] = '\0';
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD_Sound_GetFormat(FMOD_SOUND* sound, FMOD_SOUND_TYPE* type, FMOD_SOUND_FORMAT* format,
                                 int* channels, int* bits) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    soundlib::PcmFormat f;
    if (is_subsound(sound)) {
        const FMOD_RESULT r = guarded([&]() -> FMOD_RESULT {
            const soundlib::SubsoundInfo info = sound->bank->info(index_of(sound));
            // No format to give for a sound no decoder can take (its header
            // says 0 channels, or could not be read again).
            if (info.problem) {
                sound->bank->set_detail(index_of(sound), info.problem);
                return FMOD_ERR_FILE_BAD;
            }
            f = soundlib::output_format(info);
            return FMOD_OK;
        });
        if (r != FMOD_OK) return r;
    }
    if (type) *type = FMOD_SOUND_TYPE_FSB;
    if (format) *format = f.format;
    if (channels) *channels = static_cast<int>(f.channels);
    if (bits) *bits = f.bits;
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_GetLength(FMOD_SOUND* sound, unsigned int* length, FMOD_TIMEUNIT unit) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    if (!length) return FMOD_ERR_INVALID_PARAM;
    *length = 0;
    if (unit != FMOD_TIMEUNIT_PCM && unit != FMOD_TIMEUNIT_PCMBYTES) return FMOD_ERR_INVALID_PARAM;
    if (!is_subsound(sound)) return FMOD_OK;
    return guarded([&]() -> FMOD_RESULT {
        const soundlib::SubsoundInfo info = sound->bank->info(index_of(sound));
        *length = clamp32(unit == FMOD_TIMEUNIT_PCM ? info.frames
                                                    : info.frames * soundlib::output_format(info).frame_bytes());
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD_Sound_GetLoopPoints(FMOD_SOUND* sound, unsigned int* loopstart, FMOD_TIMEUNIT startunit,
                                     unsigned int* loopend, FMOD_TIMEUNIT endunit) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    std::uint64_t start = 0, end = 0, frame_bytes = 1;
    if (is_subsound(sound)) {
        const FMOD_RESULT r = guarded([&]() -> FMOD_RESULT {
            const soundlib::SubsoundInfo info = sound->bank->info(index_of(sound));
            start = info.loop_start;
            end = info.loop_end;
            frame_bytes = soundlib::output_format(info).frame_bytes();
            return FMOD_OK;
        });
        if (r != FMOD_OK) return r;
    }
    for (auto [out, unit, value] : {std::tuple{loopstart, startunit, start}, std::tuple{loopend, endunit, end}}) {
        if (!out) continue;
        if (unit == FMOD_TIMEUNIT_PCM) {
            *out = clamp32(value);
        } else if (unit == FMOD_TIMEUNIT_PCMBYTES) {
            *out = clamp32(value * frame_bytes);
        } else {
            return FMOD_ERR_INVALID_PARAM;
        }
    }
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_GetMode(FMOD_SOUND* sound, FMOD_MODE* mode) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    if (!mode) return FMOD_ERR_INVALID_PARAM;
    *mode = FMOD_CREATESTREAM | FMOD_LOOP_OFF;
    if (!is_subsound(sound)) return FMOD_OK;
    return guarded([&]() -> FMOD_RESULT {
        if (sound->bank->info(index_of(sound)).loops) *mode = FMOD_CREATESTREAM | FMOD_LOOP_NORMAL;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD_Sound_GetDefaults(FMOD_SOUND* sound, float* frequency, float* volume, float* pan,
                                   int* priority) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    if (frequency) {
        *frequency = 0.0f;
        if (is_subsound(sound)) {
            const FMOD_RESULT r = guarded([&]() -> FMOD_RESULT {
                *frequency = static_cast<float>(sound->bank->info(index_of(sound)).frequency);
                return FMOD_OK;
            });
            if (r != FMOD_OK) return r;
        }
    }
    if (volume) *volume = 1.0f;
    if (pan) *pan = 0.0f;
    if (priority) *priority = 128;
    return FMOD_OK;
}

FMOD_RESULT FMOD_Sound_SeekData(FMOD_SOUND* sound, unsigned int pcm) {
    if (!is_subsound(sound)) return valid(sound) ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_INVALID_HANDLE;
    return guarded([&]() -> FMOD_RESULT {
        if (pcm > sound->bank->info(index_of(sound)).frames) return FMOD_ERR_INVALID_PARAM;
        sound->position = pcm;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD_Sound_ReadData(FMOD_SOUND* sound, void* buffer, unsigned int lenbytes, unsigned int* read) {
    if (read) *read = 0;
    if (!is_subsound(sound)) return valid(sound) ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_INVALID_HANDLE;
    if (!buffer && lenbytes) return FMOD_ERR_INVALID_PARAM;
    return guarded([&]() -> FMOD_RESULT {
        Bank& bank = *sound->bank;
        const int index = index_of(sound);
        FMOD_RESULT code;
        soundlib::PcmStream* stream = bank.stream(index, code);
        if (!stream) return code;
        if (stream->position() != sound->position) stream->seek(sound->position);
        std::size_t delivered = 0;
        code = stream->read(static_cast<std::uint8_t*>(buffer), lenbytes, delivered);
        sound->position = static_cast<std::uint32_t>(stream->position());
        if (read) *read = static_cast<unsigned int>(delivered);
        if (code != FMOD_OK && code != FMOD_ERR_FILE_EOF) {
            const soundlib::SubsoundInfo info = bank.info(index);
            std::string why = stream->detail();
            if (info.cut_short) {
                why = (info.data.size == 0 ? "the file ends before this sound's data (it is truncated); "
                                           : "the file ends inside this sound's data (it is truncated); ") +
                      why;
            }
            bank.set_detail(index, why);
        }
        return code;
    });
}

FMOD_RESULT FMOD_Sound_Release(FMOD_SOUND* sound) {
    if (!valid(sound)) return FMOD_ERR_INVALID_HANDLE;
    if (is_subsound(sound)) {
        sound->bank->release_subsound(sound);  // a second handle's: made when asked for, gone now
        return FMOD_OK;
    }
    delete sound->bank;
    sound->magic = 0;
    delete sound;
    return FMOD_OK;
}

const char* soundlib_codec_name(FMOD_SOUND* subsound) {
    if (!is_subsound(subsound)) return "";
    const char* name = "";
    guarded([&]() -> FMOD_RESULT {
        name = soundlib::codec_short_name(subsound->bank->info(index_of(subsound)).codec);
        return FMOD_OK;
    });
    return name;
}

const char* soundlib_error_detail(FMOD_SOUND* sound) {
    if (!valid(sound)) return "";
    return is_subsound(sound) ? sound->bank->detail(index_of(sound)).c_str() : duplicate_failure.c_str();
}

unsigned int soundlib_damaged_units(FMOD_SOUND* subsound, const char** unit_name, const char** first_damage) {
    if (unit_name) *unit_name = "units";
    if (first_damage) *first_damage = "";
    if (!is_subsound(subsound)) return 0;
    const soundlib::DamageReport* damage = subsound->bank->damage(index_of(subsound));
    if (!damage) return 0;
    if (unit_name) *unit_name = damage->unit_name;
    if (first_damage) *first_damage = damage->first.c_str();
    return clamp32(damage->units);
}

const char* soundlib_bank_notes(FMOD_SOUND* bank, int* damaged) {
    if (damaged) *damaged = 0;
    if (!valid(bank) || is_subsound(bank)) return "";
    for (const auto& note : bank->bank->notes()) {
        if (note.damage && damaged) *damaged = 1;
    }
    return bank->bank->notes_text().c_str();
}

int soundlib_bank_encrypted(FMOD_SOUND* bank) {
    return valid(bank) && !is_subsound(bank) && bank->bank->encrypted() ? 1 : 0;
}

int soundlib_system_open_encrypted(FMOD_SYSTEM* system, int* keys_tried) {
    if (keys_tried) *keys_tried = 0;
    if (!valid(system)) return 0;
    const LastOpen last = system->last();
    if (keys_tried) *keys_tried = static_cast<int>(last.report.keys_tried);
    return last.report.maybe_encrypted ? 1 : 0;
}

FMOD_RESULT soundlib_subsound_bank_offset(FMOD_SOUND* subsound, unsigned long long* offset) {
    if (!valid(subsound)) return FMOD_ERR_INVALID_HANDLE;
    if (!offset) return FMOD_ERR_INVALID_PARAM;
    *offset = 0;
    if (!is_subsound(subsound)) return FMOD_ERR_INVALID_PARAM;
    *offset = subsound->bank->part_offset(index_of(subsound));
    return FMOD_OK;
}

SOUNDLIB_STORED_KIND soundlib_stored_kind(FMOD_SOUND* subsound, const char** why_not) {
    if (why_not) *why_not = "";
    if (!is_subsound(subsound)) return SOUNDLIB_STORED_NONE;
    SOUNDLIB_STORED_KIND kind = SOUNDLIB_STORED_NONE;
    guarded([&]() -> FMOD_RESULT {
        switch (soundlib::stored_kind(subsound->bank->info(index_of(subsound)), why_not)) {
            case soundlib::StoredKind::vorbis: kind = SOUNDLIB_STORED_VORBIS; break;
            case soundlib::StoredKind::mpeg: kind = SOUNDLIB_STORED_MPEG; break;
            case soundlib::StoredKind::none: break;
        }
        return FMOD_OK;
    });
    return kind;
}

FMOD_RESULT soundlib_vorbis_headers(FMOD_SOUND* subsound, const unsigned char** identification,
                                    unsigned int* identification_bytes, const unsigned char** setup,
                                    unsigned int* setup_bytes) {
    for (const unsigned char** p : {identification, setup}) {
        if (p) *p = nullptr;
    }
    for (unsigned int* n : {identification_bytes, setup_bytes}) {
        if (n) *n = 0;
    }
    if (!is_subsound(subsound)) return valid(subsound) ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_INVALID_HANDLE;
    return guarded([&]() -> FMOD_RESULT {
        Bank& bank = *subsound->bank;
        const int index = index_of(subsound);
        if (soundlib::stored_kind(bank.info(index), nullptr) != soundlib::StoredKind::vorbis) {
            return FMOD_ERR_INVALID_PARAM;
        }
        FMOD_RESULT code = FMOD_OK;
        const soundlib::ByteVector* id = nullptr;
        const soundlib::ByteVector* set_up = nullptr;
        if (!bank.stored(index, code, &id, &set_up)) return code;
        if (!id || !set_up) return FMOD_ERR_INTERNAL;
        if (identification) *identification = id->data();
        if (identification_bytes) *identification_bytes = static_cast<unsigned int>(id->size());
        if (setup) *setup = set_up->data();
        if (setup_bytes) *setup_bytes = static_cast<unsigned int>(set_up->size());
        return FMOD_OK;
    });
}

namespace {

// Up to `most` stored units of the subsound into buffer, as
// soundlib_read_stored_units gives them.
FMOD_RESULT read_stored_units(FMOD_SOUND* subsound, void* buffer, unsigned int length, std::uint32_t* sizes,
                              std::uint32_t* frames, std::size_t most, std::size_t& count) {
    count = 0;
    if (!is_subsound(subsound)) return valid(subsound) ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_INVALID_HANDLE;
    if ((!buffer && length) || most == 0) return FMOD_ERR_INVALID_PARAM;
    return guarded([&]() -> FMOD_RESULT {
        Bank& bank = *subsound->bank;
        const int index = index_of(subsound);
        FMOD_RESULT code = FMOD_OK;
        soundlib::StoredUnits* units = bank.stored(index, code);
        if (!units) return code;
        std::string why;
        code = units->next_batch(static_cast<std::uint8_t*>(buffer), length, sizes, frames, most, count, why);
        if (code != FMOD_OK && code != FMOD_ERR_FILE_EOF && code != FMOD_ERR_INVALID_PARAM) {
            const soundlib::SubsoundInfo info = bank.info(index);
            if (info.cut_short) {
                why = (info.data.size == 0 ? "the file ends before this sound's data (it is truncated); "
                                           : "the file ends inside this sound's data (it is truncated); ") +
                      why;
            }
            bank.set_detail(index, why);
        }
        return code;
    });
}

}  // namespace

FMOD_RESULT soundlib_read_stored(FMOD_SOUND* subsound, void* buffer, unsigned int length, unsigned int* read,
                                 unsigned int* frames) {
    if (read) *read = 0;
    if (frames) *frames = 0;
    std::uint32_t size = 0, unit_frames = 0;
    std::size_t count = 0;
    const FMOD_RESULT code = read_stored_units(subsound, buffer, length, &size, &unit_frames, 1, count);
    if (read && (code == FMOD_OK || code == FMOD_ERR_INVALID_PARAM)) *read = size;
    if (frames && code == FMOD_OK) *frames = unit_frames;
    return code;
}

FMOD_RESULT soundlib_read_stored_units(FMOD_SOUND* subsound, void* buffer, unsigned int length,
                                       unsigned int* unit_bytes, unsigned int* unit_frames, unsigned int max_units,
                                       unsigned int* count) {
    if (count) *count = 0;
    if (!unit_bytes || !unit_frames || !count) return FMOD_ERR_INVALID_PARAM;
    static_assert(sizeof(unsigned int) == sizeof(std::uint32_t));
    std::size_t given = 0;
    const FMOD_RESULT code =
        read_stored_units(subsound, buffer, length, reinterpret_cast<std::uint32_t*>(unit_bytes),
                          reinterpret_cast<std::uint32_t*>(unit_frames), max_units, given);
    *count = static_cast<unsigned int>(given);
    return code;
}

FMOD_RESULT soundlib_restart_stored(FMOD_SOUND* subsound) {
    if (!is_subsound(subsound)) return valid(subsound) ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_INVALID_HANDLE;
    return guarded([&]() -> FMOD_RESULT {
        FMOD_RESULT code = FMOD_OK;
        soundlib::StoredUnits* units = subsound->bank->stored(index_of(subsound), code);
        if (!units) return code;
        units->rewind();
        return FMOD_OK;
    });
}

FMOD_RESULT soundlib_stored_frames(FMOD_SOUND* subsound, unsigned long long* frames) {
    if (!frames) return FMOD_ERR_INVALID_PARAM;
    *frames = 0;
    if (!is_subsound(subsound)) return valid(subsound) ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_INVALID_HANDLE;
    return guarded([&]() -> FMOD_RESULT {
        FMOD_RESULT code = FMOD_OK;
        soundlib::StoredUnits* units = subsound->bank->stored(index_of(subsound), code);
        if (!units) return code;
        *frames = units->frames_held();
        return FMOD_OK;
    });
}

FMOD_RESULT soundlib_bank_file_identity(FMOD_SOUND* bank, unsigned long long* device, unsigned long long* file) {
    if (!valid(bank)) return FMOD_ERR_INVALID_HANDLE;
    if (!device || !file) return FMOD_ERR_INVALID_PARAM;
    *device = 0;
    *file = 0;
    const soundlib::BankFile::Identity id = is_subsound(bank) ? soundlib::BankFile::Identity{} : bank->bank->file_identity();
    if (!id.known) return FMOD_ERR_INVALID_PARAM;
    *device = id.device;
    *file = id.file;
    return FMOD_OK;
}

const char* soundlib_system_error_detail(FMOD_SYSTEM* system) {
    if (!valid(system)) return "";
    // The entry of this thread stays where it is until its next open.
    std::lock_guard<std::mutex> held(system->last_open_lock);
    const auto it = system->last_open.find(std::this_thread::get_id());
    return it == system->last_open.end() ? "" : it->second.detail.c_str();
}

}  // extern "C"
