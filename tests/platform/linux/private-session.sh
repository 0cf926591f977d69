# Sourced by the desktop harnesses: a private temporary folder, XDG folders and HOME inside it, a
# D-Bus session bus and a sound server (PulseAudio, or PipeWire's pulse server) with two null sinks
# ("Speakers", "Headphones"). What is started is recorded in `pids` and stopped by process id on exit.
# Needs `session_type` set (x11, wayland) before sourcing.
for tool in dbus-daemon pactl; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is not installed" >&2; exit 77; }
done
command -v pulseaudio >/dev/null || command -v pipewire-pulse >/dev/null ||
  { echo "$0: no sound server is installed" >&2; exit 77; }
T=$(mktemp -d /tmp/quib-desktop.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$T"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

export HOME=$T/home XDG_RUNTIME_DIR=$T/run XDG_CONFIG_HOME=$T/home/.config XDG_DATA_HOME=$T/home/.local/share \
  XDG_CACHE_HOME=$T/home/.cache XDG_STATE_HOME=$T/home/.local/state XDG_DATA_DIRS=$T/share:$T/system \
  XDG_CONFIG_DIRS=$T/etc/xdg XDG_CURRENT_DESKTOP=X-Test XDG_SESSION_TYPE=$session_type NO_AT_BRIDGE=1 \
  GSETTINGS_BACKEND=memory GIO_USE_VFS=local GTK_A11Y=none
unset WAYLAND_DISPLAY DISPLAY SESSION_MANAGER SWAYSOCK
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$T/share" "$T/etc/xdg"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
# The system's data (MIME database, icon themes, schemas) but not its applications, so the tests see
# only the desktop entries they made, whatever this machine has installed.
mkdir -p "$T/system"
for d in /usr/share/*; do [ "${d##*/}" = applications ] || ln -s "$d" "$T/system/"; done
# Nor the portal this machine may have installed: the bus would start it for a test that looks for
# its own fake one, or none. A service file earlier in the data folders hides the system's.
mkdir -p "$T/share/dbus-1/services"
printf '[D-BUS Service]\nName=org.freedesktop.portal.Desktop\nExec=/bin/false\n' \
  >"$T/share/dbus-1/services/org.freedesktop.portal.Desktop.service"

start_bus_and_sound() {
  # Forked once it listens; not our child, but stopped by its process id all the same.
  pids+=("$(dbus-daemon --session --fork --nopidfile --address="unix:path=$T/bus" --print-pid=1)")
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$T/bus

  export PULSE_SERVER=unix:$T/pulse.sock PULSE_RUNTIME_PATH=$T/run/pulse
  "$(dirname "${BASH_SOURCE[0]}")/sound-server.sh" "$T/pulse.sock" Speakers Headphones \
    >"$T/sound.ready" 2>"$T/pulse.log" &
  pids+=($!)
  for _ in $(seq 300); do [ -s "$T/sound.ready" ] && break; sleep 0.05; done
  [ -s "$T/sound.ready" ] || { echo "$0: the sound server did not start" >&2; cat "$T/pulse.log" >&2; exit 1; }
  pactl set-default-sink Speakers

  # The sanitized programs under test link GTK, whose process-long allocations are not leaks of ours.
  local supp
  supp=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp
  export LSAN_OPTIONS="suppressions=$supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
}

# The accessibility bus on the session bus, so that tests read windows as a screen reader does.
# Programs load the bridge only when NO_AT_BRIDGE is unset, which the tests that read them do.
start_accessibility_bus() {
  local launcher=/usr/libexec/at-spi-bus-launcher
  [ -x "$launcher" ] || return 0
  "$launcher" --launch-immediately >"$T/atspi.log" 2>&1 &
  pids+=($!)
}

# Whether NAME has an owner on the session bus.
has_owner() {
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}

# start_owner NAME PROGRAM [ENV...]: PROGRAM started here rather than by the bus, so that it is
# stopped by its process id, with ENV given to env(1); waits until it owns NAME. Its output goes to
# $T/<program>.log.
start_owner() {
  local name=$1 exe=$2 log="$T/${2##*/}.log"
  shift 2
  env "$@" "$exe" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do has_owner "$name" && return 0; sleep 0.1; done
  echo "$0: $exe did not start" >&2
  cat "$log" >&2
  exit 1
}

# An Xvfb display; it picks a free display number itself and writes it to fd 3.
start_xvfb() {
  command -v Xvfb >/dev/null || { echo "$0: Xvfb is not installed" >&2; exit 77; }
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$T/display" 2>"$T/xvfb.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$T/display" ] && break; sleep 0.05; done
  [ -s "$T/display" ] || { echo "$0: Xvfb did not start" >&2; cat "$T/xvfb.log" >&2; exit 1; }
  export DISPLAY=:$(tr -d '\n' <"$T/display")
}

# In the background, so that the traps run while it does; exits with its status.
run_inside() {
  "$@" &
  wait $!
  exit
}
