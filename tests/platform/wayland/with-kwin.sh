#!/usr/bin/env bash
# Runs a command inside a private KDE Plasma compositor: kwin_wayland on its virtual backend (one
# 1280x800 output, software rendering), with the private bus, sound server and XDG folders of the
# X11 harness. KWin offers its fake input only to a program whose desktop entry names it and whose
# Exec is the program's real path: `--grant PROGRAM` installs our desktop entry with PROGRAM as Exec. The
# installed kwin_wayland carries a file capability a container cannot grant, so a copy (without
# it) runs. Everything started here is stopped by process id. Exits 77 (skipped) when kwin_wayland
# is not installed.
set -uo pipefail
command -v kwin_wayland >/dev/null || { echo "with-kwin: kwin_wayland is not installed" >&2; exit 77; }
grant=
if [ "${1:-}" = "--grant" ]; then grant=$(realpath "$2"); shift 2; fi
session_type=wayland
. "$(dirname "$0")/../linux/private-session.sh"
export XDG_CURRENT_DESKTOP=KDE

if [ -n "$grant" ]; then
  mkdir -p "$XDG_DATA_HOME/applications"
  sed "s|^Exec=.*|Exec=$grant|" "$(dirname "$0")/../../../data/quibbleton.desktop" \
    >"$XDG_DATA_HOME/applications/quibbleton.desktop"
fi
# KDE Frameworks 6 index desktop entries only through an XDG applications menu, which Plasma's
# session brings (plasma-workspace) and a bare kwin_wayland does not: one that takes every entry.
mkdir -p "$T/etc/xdg/menus"
cat >"$T/etc/xdg/menus/applications.menu" <<'MENU'
<Menu>
  <Name>Applications</Name>
  <DefaultAppDirs/>
  <DefaultDirectoryDirs/>
  <Include><All/></Include>
</Menu>
MENU

start_bus_and_sound
start_accessibility_bus
cp "$(command -v kwin_wayland)" "$T/kwin_wayland"
# That menu, else the system's (the index of desktop entries KWin looks the program up in is built
# from it); software painting, no lock screen, no shortcuts of its own (Print, the volume keys) taking the
# keys meant for the test window.
KWIN_COMPOSE=Q XDG_CONFIG_DIRS=$T/etc/xdg:/etc/xdg "$T/kwin_wayland" --virtual --width 1280 --height 800 \
  --no-lockscreen --no-global-shortcuts --no-kactivities --socket wayland-kde >"$T/kwin.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
  [ -S "$XDG_RUNTIME_DIR/wayland-kde" ] && break
  sleep 0.05
done
[ -S "$XDG_RUNTIME_DIR/wayland-kde" ] || { echo "with-kwin: kwin_wayland did not start" >&2; cat "$T/kwin.log" >&2; exit 1; }
export WAYLAND_DISPLAY=wayland-kde
run_inside "$@"
