#!/usr/bin/env bash
# Runs a command inside a private desktop made for it: an Xvfb display, a D-Bus session bus, a
# PulseAudio server with two null sinks ("Speakers", "Headphones"), an accessibility bus and fresh
# XDG folders and HOME.
# Nothing reaches the developer's own session; what is started here is stopped by process id.
# Exits 77 (skipped) when Xvfb, dbus-daemon or pulseaudio is not installed.
set -uo pipefail
session_type=x11
. "$(dirname "$0")/private-session.sh"

start_xvfb
start_bus_and_sound
start_accessibility_bus
run_inside "$@"
