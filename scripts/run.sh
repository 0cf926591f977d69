#!/usr/bin/env bash
# Installs what is missing, builds a release binary and runs quibbleton with the given options.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
build="$root/build-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUIB_TESTS=OFF -DQUIB_BENCH=OFF >/dev/null
cmake --build "$build" --target quibbleton quib >/dev/null
exec "$build/quibbleton" "$@"
