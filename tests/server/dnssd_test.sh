#!/usr/bin/env bash
# DNS-SD advertisement, end to end, without touching any real network: a network namespace of our
# own whose only interface is loopback, a private D-Bus system bus and an avahi-daemon inside it.
# Exits 77 (skipped) where namespaces or the daemons are not available.
set -u
bin=${1:?usage: dnssd_test.sh PATH/TO/quibbleton PATH/TO/quib}
quib=${2:?usage: dnssd_test.sh PATH/TO/quibbleton PATH/TO/quib}
if [ "${QUIB_IN_NETNS:-}" != 1 ]; then
  for tool in unshare avahi-daemon dbus-daemon avahi-browse; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
  done
  unshare --net --mount true 2>/dev/null || { echo "skipped: cannot create namespaces"; exit 77; }
  QUIB_IN_NETNS=1 exec unshare --net --mount --propagation private "$0" "$@"
fi

set -e
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Polls a condition up to n times, a quarter second apart.
until_true() {
  local n=$1
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.25; done
  return 1
}

ip link set lo up
ip link set lo multicast on
# The system bus and avahi-daemon keep their sockets and pid files in fixed places: private ones.
for d in /run/dbus /run/avahi-daemon; do mkdir -p $d && mount -t tmpfs tmpfs $d; done
printf '[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n[wide-area]\nenable-wide-area=no\n' >"$work/avahi.conf"
dbus-daemon --system --nofork --nopidfile &
pids+=($!)
until_true 20 test -S /run/dbus/system_bus_socket
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$work/avahi.log" 2>&1 &
pids+=($!)
until_true 40 avahi-browse -at -p >/dev/null 2>&1

# Another host already holds our name: the server must take Avahi's alternative one.
name=$(uname -n)
avahi-publish -s "$name" _quibbleton._tcp 9 >/dev/null 2>&1 &
pids+=($!)
resolved() {
  found=$(avahi-browse -rpt _quibbleton._tcp 2>/dev/null | grep "^=.*;$1;" | head -1)
  [ -n "$found" ]
}
until_true 40 resolved 9 || true
port=$((30000 + RANDOM % 20000))
"$bin" --platform virtual --port "$port" --data-dir "$work/data" </dev/null >"$work/out" 2>&1 &
pids+=($!)

until_true 40 resolved "$port" || { echo "FAIL: no _quibbleton._tcp on port $port"; cat "$work/out" "$work/avahi.log"; exit 1; }
[ "$(echo "$found" | cut -d';' -f4)" != "$name" ] || { echo "FAIL: the server kept a name another holds"; exit 1; }
listed=$(QUIB_CONFIG_DIR="$work/quib" "$quib" discover --seconds 3)
echo "$listed" | grep -q "$port\$" || { echo "FAIL: quib discover did not list port $port: $listed"; exit 1; }
