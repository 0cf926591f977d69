#!/usr/bin/env bash
# Runs the README's test command on a Debian release this machine does not run: a minimal chroot of that
# release made by debootstrap (kept in build-release-check/RELEASE and reused by the next run), the
# committed HEAD cloned into it, the test command run inside. Exits with the test command's status.
# Needs root. Talks to nothing but the Debian mirror. Usage: scripts/release-check.sh [--prepare] [RELEASE]
# (default trixie); --prepare stops once the packages are in, so that slow part can overlap other work.
# QUIB_FUZZ_SECONDS and QUIB_TEST_FILTER are passed on to the test command.
set -euo pipefail
prepare_only=0
if [ "${1:-}" = "--prepare" ]; then prepare_only=1; shift; fi
release=${1:-trixie}
mirror=http://deb.debian.org/debian
root=$(cd "$(dirname "$0")/.." && pwd)
base="$root/build-release-check"
jail="$base/$release"
src=/src/quibbleton

[ "$(id -u)" -eq 0 ] || { echo "release-check: needs root (debootstrap, mount, chroot)" >&2; exit 2; }
command -v debootstrap >/dev/null || bash "$root/scripts/deps.sh"

mkdir -p "$base"
started=$(date +%s)
phase_start=$started
phase_cpu=0
# Wall time and the CPU time of what the phase ran: on a busy machine the second tells what the phase
# costs on idle cores.
phase() {
  local now cpu
  now=$(date +%s)
  times >"$base/.times"
  cpu=$(tail -n1 "$base/.times" | awk -F'[ ms]+' '{printf "%d", $1 * 60 + $2 + $3 * 60 + $4}')
  echo "release-check: [$release] $1 took $((now - phase_start))s, $((cpu - phase_cpu))s of CPU" >&2
  phase_start=$now
  phase_cpu=$cpu
}

if [ ! -e "$jail/.quib-ready" ]; then
  rm -rf "$jail"
  mkdir -p "$base"
  debootstrap --variant=minbase "$release" "$jail" "$mirror" >"$base/$release-debootstrap.log" 2>&1 || {
    tail -20 "$base/$release-debootstrap.log" >&2
    exit 1
  }
  touch "$jail/.quib-ready"
  phase debootstrap
fi

# Only the committed tree goes in; a build folder left by an earlier run is kept so that it builds
# incrementally.
mkdir -p "$jail$src"
git -C "$jail$src" init -q
git -C "$jail$src" fetch -q --no-tags "$root" HEAD
git -C "$jail$src" checkout -q --force --detach FETCH_HEAD
git -C "$jail$src" clean -q -d -x --force -e /build-test -e /build-fuzz
echo "release-check: [$release] testing $(git -C "$jail$src" log -1 --format='%h %s' | cut -c1-80)" >&2
cp /etc/resolv.conf "$jail/etc/resolv.conf"

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
}
trap unmount_all EXIT
trap 'exit 143' TERM INT
# A bind mount joins the host's propagation group unless made private: then the tmpfs mounted on the
# chroot's /dev/shm would land on the host's as well.
attach() {
  local target="$jail${1%/}"
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
  mount --make-private "$target"
}
# The chroot's root is a mount point of its own, as a system's is: tools that make a mount namespace
# (unshare, ip netns) change the propagation of "/" and fail where it is a plain folder.
attach / --bind "$jail"
attach /proc -t proc proc
attach /sys --bind /sys
attach /dev --bind /dev
attach /dev/pts --bind /dev/pts
attach /dev/shm -t tmpfs -o mode=1777 tmpfs
attach /run -t tmpfs -o mode=755 tmpfs
attach /tmp -t tmpfs -o mode=1777 tmpfs

inside() {
  chroot "$jail" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${QUIB_FUZZ_SECONDS:+QUIB_FUZZ_SECONDS=$QUIB_FUZZ_SECONDS} ${QUIB_TEST_FILTER:+QUIB_TEST_FILTER=$QUIB_TEST_FILTER} ${CI:+CI=$CI} \
    bash -c "cd $src && $1"
}
inside "bash scripts/deps.sh"
phase "installing packages"
[ $prepare_only -eq 0 ] || exit 0
status=0
inside "bash scripts/test.sh" || status=$?
phase "the test command (status $status)"
now=$(date +%s)
echo "release-check: [$release] $((now - started))s in all, test command status $status" >&2
exit $status
