#include "driver/bank_notes.h"

#include <cstdio>
#include <string>

bool report_bank_notes(FMOD_SOUND* bank) {
    int damaged = 0;
    const std::string notes = soundlib_bank_notes(bank, &damaged);
    std::size_t start = 0;
    for (std::size_t end; (end = notes.find('\n', start)) != std::string::npos; start = end + 1) {
        std::fprintf(stderr, "bankrip: %s\n", notes.substr(start, end - start).c_str());
    }
    return damaged != 0;
}
