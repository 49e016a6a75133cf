// A system and a bank opened through the library's C interface, released at
// the end, for the tests of that interface.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "bank_writer.h"
#include "soundlib/soundlib.h"
#include "support/temp_dir.h"

class Library {
public:
    Library() {
        EXPECT_EQ(FMOD_OK, FMOD_System_Create(&system));
        EXPECT_EQ(FMOD_OK, FMOD_System_Init(system, 32, 0, nullptr));
    }
    ~Library() {
        if (bank) FMOD_Sound_Release(bank);
        FMOD_System_Close(system);
        FMOD_System_Release(system);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    FMOD_RESULT open(const bankwriter::Bytes& bytes) {
        write_file(dir.file("b.fsb"), bytes);
        return FMOD_System_CreateSound(system, dir.file("b.fsb").c_str(), FMOD_CREATESTREAM, nullptr, &bank);
    }
    FMOD_SOUND* sub(int i) {
        FMOD_SOUND* s = nullptr;
        EXPECT_EQ(FMOD_OK, FMOD_Sound_GetSubSound(bank, i, &s));
        return s;
    }
    bankwriter::Bytes read_all(FMOD_SOUND* s, unsigned int bytes, FMOD_RESULT* result = nullptr) {
        bankwriter::Bytes out(bytes);
        unsigned int got = 12345;
        const FMOD_RESULT r = FMOD_Sound_ReadData(s, out.data(), bytes, &got);
        if (result) *result = r;
        out.resize(got);
        return out;
    }

    TempDir dir;
    FMOD_SYSTEM* system = nullptr;
    FMOD_SOUND* bank = nullptr;
};
