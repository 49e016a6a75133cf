#include <cstdio>
#include <cstdlib>

#include "result/result.h"

void check_result(FMOD_RESULT result) {
    if (result == FMOD_OK) return;
    std::printf("FMOD error! (%d) %s\n", result, result_message(result));
    std::exit(-1);  // exit() flushes standard output first
}
