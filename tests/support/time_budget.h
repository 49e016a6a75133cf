// Time limits for tests that check a cost stays linear: generous enough for
// a busy machine, and scaled for the sanitizer builds, which run the same
// code several times slower.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define BANKRIP_TESTS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BANKRIP_TESTS_SANITIZED 1
#endif
#endif

#if defined(BANKRIP_TESTS_SANITIZED)
constexpr double kTimeScale = 10.0;
#else
constexpr double kTimeScale = 1.0;
#endif

// Seconds allowed for work that takes `release_seconds` on a quiet machine.
constexpr double time_budget(double release_seconds) { return release_seconds * kTimeScale; }
