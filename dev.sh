#!/usr/bin/env bash
# One command for each everyday job, from a fresh clone:
#   ./dev.sh demo   set up, build, unpack the demo bank into build/demo-out
#   ./dev.sh test   set up, build, run every test, then each fuzz target
#                   for a minute (FUZZ_SECONDS; 0 leaves the fuzzers out)
#   ./dev.sh build  set up and build only
#   ./dev.sh fuzz [SECONDS [TARGET...]]
#                   build the fuzz targets (clang) and run each for a while
#   ./dev.sh sanitize
#                   build into build-sanitize with AddressSanitizer and
#                   UndefinedBehaviorSanitizer and run every test there
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD:-build}

build() {
  scripts/setup-deps
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBANKRIP_WERROR=ON >/dev/null
  cmake --build "$BUILD" -j2
}

case "${1:-}" in
  build)
    build ;;
  demo)
    build
    rm -rf "$BUILD/demo-out"
    # Relative paths are taken from the tool's folder, so pass absolute ones.
    "$BUILD/bankrip" "$PWD/demo/tones.fsb" "$PWD/$BUILD/demo-out"
    ls -l "$BUILD/demo-out" ;;
  test)
    build
    ctest --test-dir "$BUILD" --output-on-failure -j2
    seconds=${FUZZ_SECONDS:-60}
    [ "$seconds" = 0 ] || scripts/fuzz "$seconds" ;;
  fuzz)
    scripts/setup-deps
    shift
    scripts/fuzz "$@" ;;
  sanitize)
    BUILD=build-sanitize
    scripts/setup-deps
    cmake -S . -B "$BUILD" -DBANKRIP_SANITIZE=ON >/dev/null
    cmake --build "$BUILD" -j2
    ctest --test-dir "$BUILD" --output-on-failure -j2 ;;
  *)
    echo "usage: ./dev.sh demo|test|build|fuzz|sanitize" >&2
    exit 2 ;;
esac
