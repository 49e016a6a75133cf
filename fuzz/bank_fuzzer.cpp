// libFuzzer target: any bytes as a bank, opened from memory and read through
// the C interface as the tool does.
#include <cstdint>
#include <cstdlib>

#include "support/read_everything.h"

namespace {

// A few subsounds, each read a little from its start and a little past a
// seek, reach every decoder path; more would only repeat them, slower. The
// seek stays near the start, as a decoder that cannot jump (Vorbis) decodes
// its way there: a real bank's minutes of audio would cost each input
// seconds.
ReadLimits fuzz_limits() {
    ReadLimits limits;
    limits.max_subsounds = 8;
    limits.reads_each = 1;
    limits.read_bytes = 2048;
    limits.max_seek_frame = 1500;
    limits.stored_units = 32;
    return limits;
}

// One system for the whole process: the same few Vorbis set-ups come back
// input after input, and it makes each once.
FMOD_SYSTEM* shared_system() {
    FMOD_SYSTEM* system = nullptr;
    if (FMOD_System_Create(&system) != FMOD_OK || FMOD_System_Init(system, 32, 0, nullptr) != FMOD_OK) std::abort();
    return system;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ReadLimits limits = fuzz_limits();
    static FMOD_SYSTEM* const system = shared_system();
    if (!read_everything(data, size, limits, system)) std::abort();  // a broken promise is a finding
    return 0;
}
