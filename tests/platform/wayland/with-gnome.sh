#!/usr/bin/env bash
# Runs a command inside a private GNOME desktop: gnome-shell headless (one 1280x800 virtual
# monitor, software rendering, no X11) with the private bus, sound server and XDG folders of
# private-session.sh, and a private system bus where nothing answers the shell's calls for logind
# and others, which keeps it off the machine's own. Exits 77 (skipped) without gnome-shell.
# Usage: with-gnome.sh [--portal] COMMAND...; --portal also starts the desktop's own portal on the
# private bus, its dialogs on the accessibility bus, and sets QUIB_PORTAL=1; it exits 77 where
# GNOME's portal is not installed or older than GNOME 48's (without it, the program uses mutter's
# own remote desktop).
set -uo pipefail
portal=0
if [ "${1:-}" = "--portal" ]; then portal=1; shift; fi
command -v gnome-shell >/dev/null || { echo "with-gnome: gnome-shell is not installed" >&2; exit 77; }
if [ $portal -eq 1 ]; then
  major=$(gnome-shell --version | sed -n 's/^GNOME Shell \([0-9]*\).*/\1/p')
  [ "${major:-0}" -ge 48 ] ||
    { echo "with-gnome: GNOME ${major:-?}'s portal (RemoteDesktop 1) cannot remember consent: the program uses mutter" >&2; exit 77; }
  [ -x /usr/libexec/xdg-desktop-portal ] && [ -x /usr/libexec/xdg-desktop-portal-gnome ] ||
    { echo "with-gnome: GNOME's portal is not installed" >&2; exit 77; }
fi
session_type=wayland
. "$(dirname "$0")/../linux/private-session.sh"

# The shell opens its overview at start-up, which takes the keyboard from the test window; this
# mode is the user's session without it.
mkdir -p "$T/share/gnome-shell/modes" "$XDG_CONFIG_HOME/glib-2.0/settings"
printf '{"parentMode": "user", "hasOverview": false}\n' >"$T/share/gnome-shell/modes/quibtest.json"
start_bus_and_sound
start_accessibility_bus
dbus-daemon --session --nofork --nopidfile --address="unix:path=$T/system-bus" --print-address=4 \
  4>"$T/system-bus.addr" &
pids+=($!)
for _ in $(seq 100); do [ -s "$T/system-bus.addr" ] && break; sleep 0.05; done
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$T/system-bus

# Mutter maximizes a window nearly as large as the monitor, which can take the test window out of
# fullscreen under the top bar while a test runs: the shell's own settings turn that off.
printf '[org/gnome/mutter]\nauto-maximize=false\n' >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
GSETTINGS_BACKEND=keyfile XDG_CURRENT_DESKTOP=GNOME gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 --mode=quibtest \
  >"$T/gnome-shell.log" 2>&1 &
shell=$!
pids+=($shell)
# Its interface and remote desktop answer once its start-up is done: many seconds on a loaded machine.
ready() { has_owner org.gnome.Shell && has_owner org.gnome.Mutter.RemoteDesktop && [ -S "$XDG_RUNTIME_DIR/wayland-0" ]; }
for _ in $(seq 600); do
  ready && break
  kill -0 "$shell" 2>/dev/null || break
  sleep 0.1
done
ready || { echo "with-gnome: gnome-shell did not start" >&2; cat "$T/gnome-shell.log" >&2; exit 1; }
export WAYLAND_DISPLAY=wayland-0 XDG_CURRENT_DESKTOP=GNOME
# Mutter starts the pointer near the top-left corner, where the shell's hot corner takes clicks: a
# remote-desktop session of its own (which ends with its caller's connection) pushes it into the far
# corner, then back to the middle, where the program under test assumes it at start.
/usr/bin/python3 - <<'PY' || { echo "with-gnome: could not place the pointer" >&2; exit 1; }
from gi.repository import Gio, GLib
bus, name = Gio.bus_get_sync(Gio.BusType.SESSION), "org.gnome.Mutter.RemoteDesktop"
path = bus.call_sync(name, "/org/gnome/Mutter/RemoteDesktop", name, "CreateSession", None, None, 0, 5000, None)[0]
for method, args in (("Start", None), ("NotifyPointerMotionRelative", (1, 1)), ("NotifyPointerMotionRelative", (3000, 3000)),
                     ("NotifyPointerMotionRelative", (-639, -399)), ("Stop", None)):
    bus.call_sync(name, path, name + ".Session", method, args and GLib.Variant("(dd)", args), None, 0, 5000, None)
PY
if [ $portal -eq 1 ]; then
  # GTK's switches change at the end of their animation: none, so that a dialog's state can be read
  # back at once. GTK 4 reaches the accessibility bus only when asked.
  printf '[org/gnome/desktop/interface]\nenable-animations=false\n' >>"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
  mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal"
  printf '[preferred]\ndefault=gnome;\n' >"$XDG_CONFIG_HOME/xdg-desktop-portal/portals.conf"
  for service in xdg-desktop-portal-gnome:org.freedesktop.impl.portal.desktop.gnome \
    xdg-desktop-portal:org.freedesktop.portal.Desktop; do
    start_owner "${service#*:}" "/usr/libexec/${service%%:*}" \
      -u NO_AT_BRIDGE GTK_A11Y=atspi GDK_BACKEND=wayland GSETTINGS_BACKEND=keyfile
  done
  export QUIB_PORTAL=1
fi
run_inside "$@"
