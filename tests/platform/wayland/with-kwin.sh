#!/usr/bin/env bash
# Runs a command inside a private KDE Plasma compositor: kwin_wayland on its virtual backend (one
# 1280x800 output, software rendering) with the private bus, sound server and XDG folders of
# private-session.sh. KWin offers its fake input only to a program whose desktop entry names it with
# its real path as Exec: `--grant PROGRAM` installs ours so. `--portal` instead starts Plasma's own
# portal on the private bus, its windows on the accessibility bus, and sets QUIB_PORTAL=1 (and
# QUIB_PORTAL_ASKS=1 where it shows a dialog): what a user running the program from source gets. The
# installed kwin_wayland carries a file capability a container cannot grant, so a copy runs.
# Exits 77 (skipped) when kwin_wayland (or, with --portal, KDE's portal) is not installed.
set -uo pipefail
command -v kwin_wayland >/dev/null || { echo "with-kwin: kwin_wayland is not installed" >&2; exit 77; }
grant= portal=
if [ "${1:-}" = "--grant" ]; then grant=$(realpath "$2"); shift 2; fi
if [ "${1:-}" = "--portal" ]; then
  shift
  portal=$(ls /usr/libexec/xdg-desktop-portal-kde /usr/lib/*/libexec/xdg-desktop-portal-kde 2>/dev/null | head -n1)
  [ -n "$portal" ] && [ -x /usr/libexec/xdg-desktop-portal ] ||
    { echo "with-kwin: KDE's portal is not installed" >&2; exit 77; }
fi
session_type=wayland
. "$(dirname "$0")/../linux/private-session.sh"
export XDG_CURRENT_DESKTOP=KDE
# Plasma 6 starts its notification server by waiting a minute for plasmashell, which a bare
# compositor never runs: the program's first notice would hold the session that long.
printf '[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n' \
  >"$T/share/dbus-1/services/org.freedesktop.Notifications.service"
mkdir -p "$XDG_DATA_HOME/applications" "$T/share/applications" "$T/etc/xdg/menus"
[ -z "$grant" ] || sed "s|^Exec=.*|Exec=$grant|" "$(dirname "$0")/../../../data/quibbleton.desktop" \
  >"$XDG_DATA_HOME/applications/quibbleton.desktop"
# The portal drives KWin's fake input as the program its desktop entry names, which the private
# data folders leave out.
[ -z "$portal" ] || ln -s /usr/share/applications/org.freedesktop.impl.portal.desktop.kde.desktop "$T/share/applications/"
# KDE Frameworks 6 index desktop entries only through an XDG applications menu, which Plasma's
# session brings (plasma-workspace) and a bare kwin_wayland does not: one that takes every entry.
printf '<Menu><Name>Applications</Name><DefaultAppDirs/><DefaultDirectoryDirs/><Include><All/></Include></Menu>\n' \
  >"$T/etc/xdg/menus/applications.menu"

start_bus_and_sound
start_accessibility_bus
cp "$(command -v kwin_wayland)" "$T/kwin_wayland"
# No lock screen, and no shortcuts of KWin's own (Print, the volume keys) taking the test window's keys.
KWIN_COMPOSE=Q XDG_CONFIG_DIRS=$T/etc/xdg:/etc/xdg "$T/kwin_wayland" --virtual --width 1280 --height 800 \
  --no-lockscreen --no-global-shortcuts --no-kactivities --socket wayland-kde >"$T/kwin.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -S "$XDG_RUNTIME_DIR/wayland-kde" ] && break; sleep 0.05; done
[ -S "$XDG_RUNTIME_DIR/wayland-kde" ] || { echo "with-kwin: kwin_wayland did not start" >&2; cat "$T/kwin.log" >&2; exit 1; }
export WAYLAND_DISPLAY=wayland-kde
if [ -n "$portal" ]; then
  mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal"
  printf '[preferred]\ndefault=kde;\n' >"$XDG_CONFIG_HOME/xdg-desktop-portal/portals.conf"
  # Whatever the bus starts for the portal (the permission store) on this display and desktop too.
  dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP
  # Qt reaches the accessibility bus only when asked.
  for service in "$portal:org.freedesktop.impl.portal.desktop.kde" \
    /usr/libexec/xdg-desktop-portal:org.freedesktop.portal.Desktop; do
    start_owner "${service#*:}" "${service%%:*}" \
      -u NO_AT_BRIDGE QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  done
  export QUIB_PORTAL=1
  # Plasma 6's portal asks in a dialog until it may restore a session; 5.27's asks nothing.
  major=$(dpkg-query -W -f='${Version}' kwin-wayland 2>/dev/null | sed 's/^[0-9]*://; s/[^0-9].*//')
  [ "${major:-0}" -lt 6 ] || export QUIB_PORTAL_ASKS=1
  "$@" &
  # What the portal said, when the program could not go through it.
  wait $! || { status=$?; tail -n 25 "$T"/xdg-desktop-portal*.log >&2; exit $status; }
  exit 0
fi
run_inside "$@"
