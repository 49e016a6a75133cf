#!/usr/bin/env bash
# One command for each everyday job, from a fresh clone:
#   ./dev.sh demo   install what the tool needs, build the tool alone, and
#                   unpack the demo bank into build/demo-out
#   ./dev.sh test   set up and run everything CI runs: the Linux tests, each
#                   fuzz target for 30 seconds (FUZZ_SECONDS; 0 leaves them
#                   out), the tests under the sanitizers, and the Windows
#                   build's tests under wine, then the release and its checks
#   ./dev.sh linux  set up, build, run the Linux tests only (the quick check)
#   ./dev.sh build  set up and build only
#   ./dev.sh fuzz [SECONDS [TARGET...]]
#                   build the fuzz targets (clang) and run each for a while
#   ./dev.sh sanitize
#                   build into build-sanitize with AddressSanitizer and
#                   UndefinedBehaviorSanitizer and run every test there
#   ./dev.sh tsan   build into build-tsan with ThreadSanitizer and run the
#                   options form's tests there, four workers each
#   ./dev.sh windows  set up, cross-build bankrip.exe in build/windows and run
#                   every test under wine
#   ./dev.sh release  build the downloads into build/release (static Linux
#                   x86-64 and aarch64 archives, the Windows zip, the .deb,
#                   SHA256SUMS) and check them
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD:-build}

build() {
  scripts/setup-deps
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBANKRIP_WERROR=ON -DBANKRIP_TESTS=ON >/dev/null
  cmake --build "$BUILD" -j2
}

# The tool alone, with only what it needs installed: the quick start.
tool_build() {
  scripts/setup-deps tool
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBANKRIP_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target bankrip
}

# bankrip.exe (and its tests, unless only TARGET is asked for), built with
# MinGW-w64 against libraries built from Debian's sources
# (scripts/build-deps), with wine set up to run what the build runs.
windows_build() {
  scripts/setup-deps windows
  local build
  build=$(realpath -m "$BUILD")
  scripts/build-deps windows "$build/windows-deps"
  cmake -S . -B "$build/windows" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DBANKRIP_DEPS="$build/windows-deps/prefix" -DCMAKE_BUILD_TYPE=Release -DBANKRIP_WERROR=ON >/dev/null
  # The build may already run programs under wine: the wine prefix it uses.
  export WINEPREFIX=$build/windows/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  trap 'wineserver -k 2>/dev/null || true' EXIT  # leave no wine process behind
  # One wine server for the whole run (otherwise every program started under
  # wine starts one, which costs seconds), and wine's own background services
  # started here: started by a test, they would keep its output pipe open.
  # Started once: `./dev.sh test` comes here twice (the tests, then the
  # release), and a second `wineserver -p` fails (status 2) while the first
  # still runs.
  if [ -z "${wine_started:-}" ]; then
    [ -f "$WINEPREFIX/system.reg" ] || echo "setting up the wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wineboot </dev/null >/dev/null 2>&1
    wine_started=1
  fi
  cmake --build "$build/windows" -j2 ${1:+--target "$1"}
}

# The Windows build's tests under wine.
windows() {
  windows_build
  local build
  build=$(realpath -m "$BUILD")
  ctest --test-dir "$build/windows" --output-on-failure -j2
  # The suite ran as one test: show what it skipped and why, and its counts.
  tr -d '\r' <"$build/windows/Testing/Temporary/LastTest.log" | awk '
    /: Skipped$/ { getline; print "skipped under wine: " $0 }
    /^\[  PASSED  \] [0-9]+ test/ { passed = $4 }
    /^\[  SKIPPED \] [0-9]+ test/ { skipped = $4 }
    /^\[  FAILED  \] [0-9]+ test/ { failed = $4 }
    END { printf "wine: %d passed, %d failed, %d skipped\n", passed, failed, skipped }'
}

# The downloads (scripts/release): static Linux programs for x86-64 and
# aarch64, the Windows zip, the .deb, and their checks.
release() {
  scripts/setup-deps release
  windows_build bankrip
  scripts/release "$(realpath -m "$BUILD")"
}

# How long a step of `./dev.sh test` took, so that the run's time (CI
# allows 40 minutes) can be kept an eye on.
minutes() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
timed() {
  local start=$SECONDS
  "$@"
  echo "dev.sh test: $1 took $(minutes $((SECONDS - start)))"
}

linux_tests() {
  build
  ctest --test-dir "$BUILD" --output-on-failure -j2
}

# The tool and its tests built with ThreadSanitizer; the tests that run the
# options form, with four workers each.
threaded_tests() {
  local build=build-tsan
  scripts/setup-deps
  cmake -S . -B "$build" -DBANKRIP_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target bankrip bankrip_tests
  BANKRIP_TEST_JOBS=4 TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
    ctest --test-dir "$build" --output-on-failure -j2 -R '^(OptionsForm|OptionsFormFailures|Jobs|OutputFormats|KeepOriginal)\.'
}

sanitized_tests() {
  local build=build-sanitize
  scripts/setup-deps
  cmake -S . -B "$build" -DBANKRIP_SANITIZE=ON >/dev/null
  cmake --build "$build" -j2
  ctest --test-dir "$build" --output-on-failure -j2
}

case "${1:-}" in
  build)
    build ;;
  demo)
    tool_build
    rm -rf "$BUILD/demo-out"
    "$BUILD/bankrip" -o "$BUILD/demo-out" demo/tones.fsb
    ls -l "$BUILD/demo-out" ;;
  test)
    timed linux_tests
    seconds=${FUZZ_SECONDS:-30}
    [ "$seconds" = 0 ] || timed scripts/fuzz "$seconds"
    timed sanitized_tests
    timed threaded_tests
    timed windows
    timed release
    echo "dev.sh test: every step passed in $(minutes $SECONDS)" ;;
  linux)
    linux_tests ;;
  fuzz)
    scripts/setup-deps
    shift
    scripts/fuzz "$@" ;;
  sanitize)
    sanitized_tests ;;
  tsan)
    threaded_tests ;;
  windows)
    windows ;;
  release)
    release ;;
  *)
    echo "usage: ./dev.sh demo|test|linux|build|fuzz|sanitize|tsan|windows|release" >&2
    exit 2 ;;
esac
