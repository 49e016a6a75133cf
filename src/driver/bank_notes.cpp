#include "driver/bank_notes.h"

#include <cstdio>
#include <string>

#include "wav/console.h"
#include "wav/output_name.h"

bool report_bank_notes(FMOD_SOUND* bank) {
    int damaged = 0;
    const std::string notes = soundlib_bank_notes(bank, &damaged);
    std::size_t start = 0;
    for (std::size_t end; (end = notes.find('\n', start)) != std::string::npos; start = end + 1) {
        // A note names its file, whose name may hold anything.
        console_write(stderr, "bankrip: " + printable_name(notes.substr(start, end - start)) + "\n");
    }
    return damaged != 0;
}
