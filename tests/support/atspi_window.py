#!/usr/bin/env python3
# Reads a window the way a screen reader does, through AT-SPI.
# Usage: atspi_window.py TITLE SECONDS [--absent | --press NAME...]
# Prints "role<TAB>name<TAB>tooltip" for each named element of the showing window called TITLE, in
# reading order (exit 1 when none shows within SECONDS). --absent: exit 0 when none shows now.
# --press: then turns on each named switch and clicks each named button, in order (exit 1 when one
# is missing or does not take the press).
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402


def children(node):
    for i in range(node.get_child_count() if node is not None else 0):
        child = node.get_child_at_index(i)
        if child is not None:
            yield child


def has(node, state):
    return node.get_state_set().contains(state)


def showing_windows():
    for app in children(Atspi.get_desktop(0)):
        for w in children(app):
            if has(w, Atspi.StateType.SHOWING):
                yield app.get_name(), w


def showing_window(title):
    return next((w for _, w in showing_windows() if w.get_name() == title), None)


def walk(node, out):
    for child in children(node):
        if child.get_name():
            # The role's name from our own table: the one the program's side reports was renamed in
            # at-spi2-core 2.50 ("push button" became "button").
            role = Atspi.role_get_name(child.get_role())
            out.append("%s\t%s\t%s" % (role, child.get_name(), child.get_description() or ""))
        walk(child, out)


def first(window, matches):
    pending = [window]
    while pending:
        for child in children(pending.pop(0)):
            if matches(child):
                return child
            pending.append(child)
    return None


class ShellKeyboard:
    """GNOME's shell takes typed keys from its own remote-desktop session only."""

    NAME = "org.gnome.Mutter.RemoteDesktop"

    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.path = self.bus.call_sync(self.NAME, "/org/gnome/Mutter/RemoteDesktop", self.NAME, "CreateSession",
                                       None, None, 0, 5000, None).unpack()[0]
        self.call("Start")

    def call(self, method, args=None):
        self.bus.call_sync(self.NAME, self.path, self.NAME + ".Session", method, args, None, 0, 5000, None)

    def key(self, keysym):
        for down in (True, False):
            self.call("NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, down)))


def focus(window):
    node = first(window, lambda child: has(child, Atspi.StateType.FOCUSED))
    return None if node is None else (node.get_role(), node.get_name())


def press(window, name):
    """Clicks the button called `name`, or turns on the switch so called; a switch row whose action
    does nothing (libadwaita's) is reached with Tab and turned on with Space, as a keyboard user does."""
    deadline = time.monotonic() + 10
    target = first(window, lambda child: child.get_name() == name)
    if target is None:
        return False
    if has(target, Atspi.StateType.CHECKABLE):
        if not has(target, Atspi.StateType.CHECKED):
            keyboard = ShellKeyboard()
            try:
                for _ in range(20):
                    before = focus(window)
                    if before is not None and before[1] == name:
                        break
                    keyboard.key(0xFF09)  # Tab
                    # The next Tab only once this one has moved the focus, which a loaded machine
                    # reports late.
                    moved = time.monotonic() + 3
                    while focus(window) == before and time.monotonic() < moved:
                        time.sleep(0.05)
                keyboard.key(0x20)  # space
            finally:
                keyboard.call("Stop")
        while not has(target, Atspi.StateType.CHECKED) and time.monotonic() < deadline:
            time.sleep(0.1)
        return has(target, Atspi.StateType.CHECKED)
    target = first(window, lambda child: child.get_name() == name and child.get_action_iface() is not None
                   and child.get_action_iface().get_n_actions() > 0)
    # A button the dialog has not yet made sensitive refuses the click.
    while target is not None and not target.get_action_iface().do_action(0):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return target is not None


def main():
    title, seconds = sys.argv[1], float(sys.argv[2])
    if "--absent" in sys.argv[3:]:
        sys.exit(1 if showing_window(title) else 0)
    deadline = time.monotonic() + seconds
    while (window := showing_window(title)) is None and time.monotonic() < deadline:
        time.sleep(0.1)
    if window is None:
        showing = ["%s: %s" % (app, w.get_name()) for app, w in showing_windows()]
        print("no showing window called %r; showing: %r" % (title, showing))
        sys.exit(1)
    lines = []
    walk(window, lines)
    print("\n".join(lines))
    for name in sys.argv[sys.argv.index("--press") + 1:] if "--press" in sys.argv[3:] else []:
        if not press(window, name):
            print("could not press %r" % name)
            sys.exit(1)


main()
