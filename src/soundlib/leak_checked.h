// SOUNDLIB_LEAK_CHECKED: defined where leak checking runs (builds with
// AddressSanitizer), with LeakSanitizer's interface, so that memory a
// library loses on its own can be left out of the check.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define SOUNDLIB_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOUNDLIB_LEAK_CHECKED 1
#endif
#endif
#ifdef SOUNDLIB_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif
