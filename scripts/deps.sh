#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, on Debian 12 (bookworm) and
# Debian 13 (trixie) alike: names that hold on both go in the one list, what differs below it.
# Idempotent: apt-get runs only when something is missing.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev debootstrap
  libasio-dev libssl-dev nlohmann-json3-dev libsqlite3-dev libavahi-client-dev
  libcurl4-openssl-dev libre2-dev libicu-dev libgdk-pixbuf-2.0-dev librsvg2-common
  webp-pixbuf-loader libcairo2-dev zlib1g-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  dbus avahi-daemon avahi-utils iproute2 util-linux
  libx11-dev libxtst-dev libxfixes-dev libgtk-3-dev libpulse-dev
  xvfb xauth xdotool xclip xinput x11-utils x11-xserver-utils x11-xkb-utils xkb-data pulseaudio-utils dbus-x11
  libglib2.0-dev
  libwayland-dev libxkbcommon-dev wayland-protocols sway wl-clipboard python3-gi gir1.2-gtk-3.0
  plasma-wayland-protocols kwin-wayland
  # Plasma's own RemoteDesktop portal, which a run from source (no desktop entry) uses on KDE.
  xdg-desktop-portal xdg-desktop-portal-kde
  at-spi2-core gir1.2-atspi-2.0
  dpkg-dev file lintian systemd desktop-file-utils bash-completion
  # The site-icon tests' HTTPS server: Python's own, with a certificate from the openssl tool.
  python3 openssl
  # GNOME's compositor, run headless by the GNOME desktop tests.
  gnome-shell
)
codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
# The sound server the desktop tests start privately is the release's own: installing PulseAudio where
# PipeWire serves the session would have both claim the session's sound socket at the next login.
case "$codename" in
  # KDE's portal backend draws on Wayland through Qt's plugin, which it does not depend on.
  bookworm) pkgs+=(pulseaudio qtwayland5) ;;
  # GNOME 48's own RemoteDesktop portal, whose consent dialog the GNOME test answers (GNOME 43's
  # cannot remember consent: the program uses mutter there).
  # Plasma 6's portal draws its consent dialog with Plasma's own dialog components.
  trixie) pkgs+=(pipewire-pulse wireplumber xdg-desktop-portal-gnome qt6-wayland plasma-workspace) ;;
  *)
    pkgs+=(pipewire-pulse wireplumber)
    echo "deps.sh: supported releases are Debian 12 (bookworm) and 13 (trixie), not '${codename:-unknown}'; trying anyway" >&2 ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# Installing avahi-daemon or dbus must not start services on this machine's real network.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null && $sudo chmod +x "$policy" && created_policy=1
fi
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
[ $created_policy -eq 1 ] && $sudo rm -f "$policy"
exit 0
