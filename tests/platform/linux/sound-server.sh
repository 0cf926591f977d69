#!/usr/bin/env bash
# A private sound server speaking the PulseAudio protocol on SOCKET, with a null sink for each NAME
# (described by the same name). PulseAudio where it is installed (Debian 12), else PipeWire with its
# pulse server (Debian 13's own). Prints "ready" once every sink is there, then runs until stopped.
# Its servers die with it, even when it is killed outright. Exits 77 when neither is installed.
# Usage: sound-server.sh SOCKET NAME...
set -uo pipefail
socket=$1
shift
dir=$(mktemp -d "${socket%/*}/sound.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
child() {
  setpriv --pdeathsig KILL "$@" &
  pids+=($!)
}
sink() { echo "module-null-sink sink_name=$1 sink_properties=device.description=$1"; }
export PULSE_RUNTIME_PATH=$dir/pulse

if command -v pulseaudio >/dev/null; then
  loads=()
  for name in "$@"; do loads+=("--load=$(sink "$name")"); done
  child pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --load="module-native-protocol-unix socket=$socket auth-anonymous=1" "${loads[@]}" --load=module-always-sink
else
  for tool in pipewire wireplumber pipewire-pulse; do
    command -v "$tool" >/dev/null || { echo "sound-server: neither pulseaudio nor $tool is installed" >&2; exit 77; }
  done
  # Each server finds the others, its settings and its saved state only in this folder.
  export XDG_RUNTIME_DIR=$dir PIPEWIRE_RUNTIME_DIR=$dir XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state
  unset PIPEWIRE_REMOTE
  mkdir -p "$dir/config/pipewire/pipewire-pulse.conf.d" "$dir/state"
  echo "pulse.properties = { server.address = [ \"unix:$socket\" ] }" \
    >"$dir/config/pipewire/pipewire-pulse.conf.d/socket.conf"
  child pipewire
  for _ in $(seq 100); do [ -S "$dir/pipewire-0" ] && break; sleep 0.05; done
  child wireplumber
  child pipewire-pulse
  for _ in $(seq 200); do pactl --server="unix:$socket" info >/dev/null 2>&1 && break; sleep 0.05; done
  # PipeWire keeps a suspended null sink's volume where it was; hardware outputs keep theirs by the
  # session manager, so these sinks run always, as an output does for the volume keys.
  for name in "$@"; do
    pactl --server="unix:$socket" load-module module-null-sink "sink_name=$name" \
      "sink_properties=\"device.description=$name node.always-process=true\"" >/dev/null
  done
fi

present() {
  local listed
  listed=$(pactl --server="unix:$socket" list short sinks 2>/dev/null | cut -f2) || return 1
  for name in "$@"; do grep -qx "$name" <<<"$listed" || return 1; done
}
for _ in $(seq 200); do present "$@" && break; sleep 0.05; done
present "$@" || { echo "sound-server: the server did not start" >&2; exit 1; }
echo ready
wait
