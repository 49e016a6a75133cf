// Opens a bank through the library's C interface and reads each subsound as
// the tool would, whatever the results: the robustness tests and the fuzzer
// share it. Returns false when the library broke a promise of its interface
// (set-up failed, a valid index had no subsound, a read delivered more than
// was asked for); damaged banks themselves are not a failure here.
#pragma once

#include <string>
#include <vector>

#include "soundlib/soundlib.h"

inline bool read_everything(const std::string& path, int max_subsounds, int reads_each) {
    FMOD_SYSTEM* system = nullptr;
    if (FMOD_System_Create(&system) != FMOD_OK || FMOD_System_Init(system, 32, 0, nullptr) != FMOD_OK) return false;
    bool kept_promises = true;
    FMOD_SOUND* bank = nullptr;
    if (FMOD_System_CreateSound(system, path.c_str(), FMOD_CREATESTREAM, nullptr, &bank) == FMOD_OK) {
        int count = 0;
        FMOD_Sound_GetNumSubSounds(bank, &count);
        std::vector<unsigned char> buffer(1 << 16);
        for (int i = 0; i < count && i < max_subsounds && kept_promises; ++i) {
            FMOD_SOUND* sub = nullptr;
            if (FMOD_Sound_GetSubSound(bank, i, &sub) != FMOD_OK) {
                kept_promises = false;
                break;
            }
            char name[256];
            FMOD_Sound_GetName(sub, name, sizeof name);
            unsigned int frames = 0;
            FMOD_Sound_GetLength(sub, &frames, FMOD_TIMEUNIT_PCM);
            // Enough reads to cross several blocks, bounded for huge claimed lengths.
            for (int r = 0; r < reads_each; ++r) {
                unsigned int got = 0;
                const FMOD_RESULT result =
                    FMOD_Sound_ReadData(sub, buffer.data(), static_cast<unsigned int>(buffer.size()), &got);
                if (got > buffer.size()) kept_promises = false;
                if (result != FMOD_OK) break;
            }
            FMOD_Sound_SeekData(sub, frames / 2);
            unsigned int got = 0;
            FMOD_Sound_ReadData(sub, buffer.data(), 4096, &got);
            if (got > 4096) kept_promises = false;
        }
        FMOD_Sound_Release(bank);
    }
    FMOD_System_Release(system);
    return kept_promises;
}
