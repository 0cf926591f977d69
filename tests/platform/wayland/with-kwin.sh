#!/usr/bin/env bash
# Runs a command inside a private KDE Plasma compositor: kwin_wayland on its virtual backend (one
# 1280x800 output, software rendering), with the private bus, sound server and XDG folders of the
# X11 harness. KWin offers its fake input only to a program whose desktop entry names it and whose
# Exec is the program's real path: `--grant PROGRAM` installs our desktop entry with PROGRAM as Exec. The
# installed kwin_wayland carries a file capability a container cannot grant, so a copy (without
# it) runs. `--portal` instead starts Plasma's own portal (xdg-desktop-portal with KDE's backend) on
# the private bus, its windows on the accessibility bus, and sets QUIB_PORTAL=1 for the command (and
# QUIB_PORTAL_ASKS=1 where it shows a dialog): what a user who runs the program from source, with no
# desktop entry, gets. Everything started here is stopped by process id. Exits 77 (skipped) when
# kwin_wayland (or, with --portal, KDE's portal) is not installed.
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

if [ -n "$grant" ]; then
  mkdir -p "$XDG_DATA_HOME/applications"
  sed "s|^Exec=.*|Exec=$grant|" "$(dirname "$0")/../../../data/quibbleton.desktop" \
    >"$XDG_DATA_HOME/applications/quibbleton.desktop"
fi
# KWin hands its fake input and screen casting, which the portal's remote desktop drives, only to a
# program whose desktop entry it finds: the portal's own, which the private data folders leave out.
if [ -n "$portal" ]; then
  mkdir -p "$T/share/applications"
  ln -s /usr/share/applications/org.freedesktop.impl.portal.desktop.kde.desktop "$T/share/applications/"
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
  if [ "${major:-0}" -ge 6 ]; then export QUIB_PORTAL_ASKS=1; fi
  "$@" &
  child=$!
  wait "$child"
  status=$?
  # What the portal said, when the program could not go through it.
  [ $status -eq 0 ] || tail -n 25 "$T"/xdg-desktop-portal*.log >&2
  exit $status
fi
run_inside "$@"
