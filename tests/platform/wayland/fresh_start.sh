#!/usr/bin/env bash
# On a compositor that has never had a keyboard (a fresh headless one), the program still takes
# input through the virtual devices: asking such a seat for its keyboard would end the connection.
# Run first inside with-sway.sh, so that the compositor the other tests share is the fresh one
# checked here; then runs COMMAND, if given, in its place. Usage: fresh_start.sh QUIBBLETON [COMMAND...]
set -uo pipefail
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
"$1" --platform wayland --port 0 --data-dir "$data" </dev/null >"$data/out" 2>&1 &
pid=$!
shift
for _ in $(seq 100); do grep -q '데스크톱:' "$data/out" && break; sleep 0.05; done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
grep '데스크톱:' "$data/out" | grep -F 'input through wlroots virtual keyboard and pointer' || {
  cat "$data/out" >&2
  exit 1
}
rm -rf "$data"  # exec skips the trap
[ $# -eq 0 ] || exec "$@"
