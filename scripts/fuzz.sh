#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds (default 60).
# The seed is fixed (QUIB_FUZZ_SEED to change it) so that a run from an empty corpus tries the same
# inputs in the same order everywhere: a longer run by hand covers what CI's shorter one will try.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUIB_FUZZ=ON -DQUIB_TESTS=OFF -DQUIB_BENCH=OFF >/dev/null
targets=(fuzz_line_decode fuzz_open_line fuzz_icon_declarations fuzz_image_decode)
cmake --build "$build" --target "${targets[@]}"
for target in "${targets[@]}"; do
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  echo "fuzzing $target for ${seconds}s"
  "$build/$target" -seed="${QUIB_FUZZ_SEED:-1}" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=4096 "$corpus" "$root/fuzz/seeds/$target" 2>&1 | tail -3
done
