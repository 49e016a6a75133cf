// libFuzzer target: any bytes as a bank, opened and read through the C
// interface as the tool does. Build with -DBANKRIP_FUZZ=ON and clang.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "soundlib/soundlib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The library reads banks from paths; a memory file gives it one.
    const int fd = memfd_create("bank", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    FMOD_SYSTEM* system = nullptr;
    FMOD_System_Create(&system);
    FMOD_System_Init(system, 32, 0, nullptr);
    FMOD_SOUND* bank = nullptr;
    if (FMOD_System_CreateSound(system, path.c_str(), FMOD_CREATESTREAM, nullptr, &bank) == FMOD_OK) {
        int count = 0;
        FMOD_Sound_GetNumSubSounds(bank, &count);
        std::vector<std::uint8_t> buffer(1 << 16);
        for (int i = 0; i < count && i < 16; ++i) {
            FMOD_SOUND* sub = nullptr;
            if (FMOD_Sound_GetSubSound(bank, i, &sub) != FMOD_OK) continue;
            char name[256];
            FMOD_Sound_GetName(sub, name, sizeof name);
            unsigned int frames = 0;
            FMOD_Sound_GetLength(sub, &frames, FMOD_TIMEUNIT_PCM);
            for (int r = 0; r < 8; ++r) {
                unsigned int got = 0;
                if (FMOD_Sound_ReadData(sub, buffer.data(), static_cast<unsigned int>(buffer.size()), &got) != FMOD_OK)
                    break;
            }
            FMOD_Sound_SeekData(sub, frames / 3);
            unsigned int got = 0;
            FMOD_Sound_ReadData(sub, buffer.data(), 8192, &got);
        }
        FMOD_Sound_Release(bank);
    }
    FMOD_System_Release(system);
    close(fd);
    return 0;
}
