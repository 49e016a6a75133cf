#include <cstdio>
#include <cstdlib>

#include "result/result.h"

namespace {
bool failures_throw = false;
}  // namespace

void check_failures_throw() { failures_throw = true; }

void check_result(FMOD_RESULT result) {
    if (result == FMOD_OK) return;
    if (failures_throw) throw LibraryFailure{result};
    std::printf("FMOD error! (%d) %s\n", result, result_message(result));
    std::exit(-1);  // exit() flushes standard output first
}
