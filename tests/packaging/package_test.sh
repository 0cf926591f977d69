#!/usr/bin/env bash
# Builds the Debian package from this build directory, runs lintian on it, unpacks it into a scratch
# folder and runs the unpacked programs, checks the desktop files and the user unit.
# Usage: package_test.sh BUILD_DIR. Exit 77 (skipped) only when a needed tool is not installed.
set -uo pipefail
build=$(cd "$1" && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out") >"$scratch/cpack.log" 2>&1
deb=$(ls "$scratch"/out/*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { cat "$scratch/cpack.log"; echo "FAIL: cpack made no package"; exit 1; }

# Dependencies come from the linked libraries, so the crypto library must be among them.
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libssl3* ]] || fail "Depends lacks libssl3: $depends"

# lintian prints every finding; only errors fail the test.
lintian --fail-on error --no-tag-display-limit "$deb" 2>&1 || fail "lintian reports errors"

root="$scratch/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
for f in usr/bin/{quibbleton,quib} usr/share/man/man1/{quibbleton,quib}.1.gz \
  usr/share/applications/quibbleton.desktop usr/share/icons/hicolor/scalable/apps/quibbleton.svg \
  usr/share/icons/hicolor/scalable/status/quibbleton-{no-phone,connected,not-permitted}-symbolic.svg \
  usr/share/bash-completion/completions/quib \
  etc/xdg/autostart/quibbleton.desktop \
  etc/ufw/applications.d/quibbleton \
  usr/lib/firewalld/services/quibbleton.xml \
  usr/lib/systemd/user/quibbleton.service \
  usr/share/doc/quibbleton/copyright; do
  [ -e "$root/$f" ] || fail "missing /$f"
done
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = "/etc/ufw/applications.d/quibbleton
/etc/xdg/autostart/quibbleton.desktop" ] || fail "the autostart entry and the ufw profile are not conffiles"
# The firewall descriptions open the server's port and mDNS, and nothing else.
grep -q '<port protocol="tcp" port="50913"/>' "$root/usr/lib/firewalld/services/quibbleton.xml" &&
  grep -q '<include service="mdns"/>' "$root/usr/lib/firewalld/services/quibbleton.xml" ||
  fail "the firewalld service does not name TCP 50913 and mdns"
grep -qx 'ports=50913/tcp|5353/udp' "$root/etc/ufw/applications.d/quibbleton" || fail "the ufw profile's ports"

# The unpacked programs run: their libraries are on this machine.
for program in quibbleton quib; do
  "$root/usr/bin/$program" --help >/dev/null 2>&1 || fail "$program --help exited $?"
done

unit="$root/usr/lib/systemd/user/quibbleton.service"
grep -qx 'ExecStart=/usr/bin/quibbleton --menu auto' "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
grep -qx 'Restart=on-failure' "$unit" || fail "the unit does not restart on failure"
grep -qx 'WantedBy=graphical-session.target' "$unit" || fail "the unit is not bound to the session"
if command -v systemd-analyze >/dev/null; then
  # verify looks for the program at its installed path: point a copy of the unit at the unpacked one.
  mkdir -p "$scratch/units"
  sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$scratch/units/quibbleton.service"
  XDG_RUNTIME_DIR="$scratch" systemd-analyze --user --man=no verify "$scratch/units/quibbleton.service" ||
    fail "systemd-analyze verify"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/quibbleton.desktop" || fail "desktop entry"
  # KWin grants its fake input only to the entry whose Exec is the program's real path.
  grep -qx 'Exec=/usr/bin/quibbleton' "$root/usr/share/applications/quibbleton.desktop" || fail "desktop entry Exec"
  desktop-file-validate "$root/etc/xdg/autostart/quibbleton.desktop" || fail "autostart entry"
fi
bash -n "$root/usr/share/bash-completion/completions/quib" || fail "completion script syntax"

[ $failures -eq 0 ] && echo "package test passed"
