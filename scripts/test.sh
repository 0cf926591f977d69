#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs every
# test; with QUIB_FUZZ_SECONDS set (CI sets 60) also runs each fuzz target that long. QUIB_TEST_FILTER, a
# ctest regular expression, runs only the tests it names (one area while working on it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
build="$root/build-test"
# A compiler cache where one is installed: a rebuild after a small change then takes seconds.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIB_SANITIZE=ON "${launcher[@]}" >/dev/null
cmake --build "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -j2 --timeout 300 ${QUIB_TEST_FILTER:+-R "$QUIB_TEST_FILTER"})
if [ -n "${QUIB_FUZZ_SECONDS:-}" ]; then
  bash "$root/scripts/fuzz.sh" "$QUIB_FUZZ_SECONDS"
fi
