#!/usr/bin/env bash
# Runs a command inside a private Wayland desktop: sway on its headless backend (one 1280x800
# output, software rendering, no input devices of its own) with the private bus, sound server and
# XDG folders of private-session.sh; `--with-x` first adds an Xvfb display beside it (for comparing
# the two). sway will not run as root, so it runs as nobody in a runtime folder of its own, whose
# socket root (the tests in CI) reaches all the same. Exits 77 (skipped) without sway or setpriv.
set -uo pipefail
for tool in sway setpriv; do
  command -v "$tool" >/dev/null || { echo "with-sway: $tool is not installed" >&2; exit 77; }
done
with_x=0
if [ "${1:-}" = "--with-x" ]; then with_x=1; shift; fi
session_type=wayland
. "$(dirname "$0")/../linux/private-session.sh"

chmod 755 "$T"  # the compositor's user passes through to its own folder
W=$T/wayland
mkdir -m 700 -p "$W"
printf '%s\n' 'xwayland disable' 'output HEADLESS-1 mode 1280x800 position 0 0' 'default_border none' \
  'default_floating_border none' 'focus_follows_mouse no' 'seat * hide_cursor 0' >"$W/config"
as_compositor=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$W"
  as_compositor=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
env -i PATH=/usr/bin:/bin HOME="$W" XDG_RUNTIME_DIR="$W" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
  WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 "${as_compositor[@]}" sway -c "$W/config" >"$T/sway.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
  socket=$(find "$W" -maxdepth 1 -type s -name 'wayland-*' | head -n1)
  [ -n "$socket" ] && break
  sleep 0.05
done
[ -n "$socket" ] || { echo "with-sway: sway did not start" >&2; cat "$T/sway.log" >&2; exit 1; }
export WAYLAND_DISPLAY=$socket SWAYSOCK=$(find "$W" -maxdepth 1 -type s -name 'sway-ipc.*' | head -n1)

[ $with_x -eq 1 ] && start_xvfb
start_bus_and_sound
run_inside "$@"
