#!/usr/bin/env python3
"""Reads a window of a running program the way a screen reader does, through AT-SPI.

Usage: atspi_window.py TITLE SECONDS [--absent]
Waits up to SECONDS for a showing window called TITLE on the accessibility bus and prints one line
per named element inside it, "role<TAB>name<TAB>tooltip-or-empty", in reading order; exits 1 when
none shows in time. With --absent: exits 0 when no such window shows now, else 1.
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
        print("no showing window called %r" % title)
        sys.exit(1)
    lines = []
    walk(window, lines)
    print("\n".join(lines))


main()
