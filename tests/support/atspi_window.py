#!/usr/bin/env python3
"""Reads a window of a running program the way a screen reader does, through AT-SPI.

Usage: atspi_window.py TITLE SECONDS [--absent | --press NAME...]
Waits up to SECONDS for a showing window called TITLE on the accessibility bus and prints one line
per named element inside it, "role<TAB>name<TAB>tooltip-or-empty", in reading order; exits 1 when
none shows in time. With --absent: exits 0 when no such window shows now, else 1. With --press:
then, as a user would, turns on each named switch that is off and clicks each named button, in
order (typing through GNOME's shell where a switch needs the keyboard); exits 1 when one has no
such control or it does not take the press.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def showing_window(title):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None:
            continue
        for j in range(app.get_child_count()):
            w = app.get_child_at_index(j)
            if w is not None and w.get_name() == title and w.get_state_set().contains(Atspi.StateType.SHOWING):
                return w
    return None


def showing_titles():
    desktop = Atspi.get_desktop(0)
    titles = []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        for j in range(app.get_child_count() if app is not None else 0):
            w = app.get_child_at_index(j)
            if w is not None and w.get_state_set().contains(Atspi.StateType.SHOWING):
                titles.append("%s: %s" % (app.get_name(), w.get_name()))
    return titles


def walk(node, out):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        name = child.get_name()
        if name:
            # The role's name from our own table: the one the program's side reports was renamed in
            # at-spi2-core 2.50 ("push button" became "button").
            role = Atspi.role_get_name(child.get_role())
            out.append("%s\t%s\t%s" % (role, name, child.get_description() or ""))
        walk(child, out)


def first(window, matches):
    """The first element below `window`, breadth first, for which `matches` holds."""
    pending = [window]
    while pending:
        node = pending.pop(0)
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if child is None:
                continue
            if matches(child):
                return child
            pending.append(child)
    return None


def find(window, name, acting):
    """The first element called `name`, or with `acting` the first such that has actions."""
    def matches(child):
        if child.get_name() != name:
            return False
        action = child.get_action_iface()
        return not acting or (action is not None and action.get_n_actions() > 0)
    return first(window, matches)


def focused(window):
    return first(window, lambda child: child.get_state_set().contains(Atspi.StateType.FOCUSED))


class ShellKeyboard:
    """GNOME's shell takes typed keys from its own remote-desktop session only."""

    def __init__(self):
        from gi.repository import Gio

        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.name = "org.gnome.Mutter.RemoteDesktop"
        self.path = self.bus.call_sync(self.name, "/org/gnome/Mutter/RemoteDesktop", self.name, "CreateSession",
                                       None, None, 0, 5000, None).unpack()[0]
        self.call("Start")

    def call(self, method, args=None):
        self.bus.call_sync(self.name, self.path, self.name + ".Session", method, args, None, 0, 5000, None)

    def key(self, keysym):
        from gi.repository import GLib

        for down in (True, False):
            self.call("NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, down)))

    def close(self):
        self.call("Stop")


def identity(node):
    return None if node is None else (node.get_role(), node.get_name())


def checked(node):
    return node.get_state_set().contains(Atspi.StateType.CHECKED)


def press(window, name):
    """Clicks the button called `name`, or turns on the switch so called where it is off; a switch row
    whose action does nothing (libadwaita's) is reached with Tab and turned on with Space, as the
    keyboard's user does. Waits up to ten seconds for the control to take it."""
    deadline = time.monotonic() + 10
    target = find(window, name, acting=False)
    if target is None:
        return False
    if target.get_state_set().contains(Atspi.StateType.CHECKABLE):
        if checked(target):
            return True
        keyboard = ShellKeyboard()
        try:
            for _ in range(20):
                before = identity(focused(window))
                if before is not None and before[1] == name:
                    break
                keyboard.key(0xFF09)  # Tab
                # The next Tab only once this one has moved the focus, which a loaded machine
                # reports late.
                moved = time.monotonic() + 3
                while identity(focused(window)) == before and time.monotonic() < moved:
                    time.sleep(0.05)
            keyboard.key(0x20)  # space
        finally:
            keyboard.close()
        while not checked(target) and time.monotonic() < deadline:
            time.sleep(0.1)
        return checked(target)
    target = find(window, name, acting=True)
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
    window = showing_window(title)
    while window is None and time.monotonic() < deadline:
        time.sleep(0.1)
        window = showing_window(title)
    if window is None:
        print("no showing window called %r; showing: %r" % (title, showing_titles()))
        sys.exit(1)
    lines = []
    walk(window, lines)
    print("\n".join(lines))
    if "--press" in sys.argv[3:]:
        for name in sys.argv[sys.argv.index("--press") + 1:]:
            if not press(window, name):
                print("could not press %r" % name)
                sys.exit(1)


main()
