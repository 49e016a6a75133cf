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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ReadLimits limits = fuzz_limits();
    if (!read_everything(data, size, limits)) std::abort();  // a broken promise is a finding
    return 0;
}
