#!/usr/bin/python3
# A small GTK window for desktop tests: one text field that holds the keyboard focus. It prints a
# line for every key press (keysym name and modifier names), pointer button, scroll step and the
# field's text after each change, so a test reads what really arrived from outside the program.
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(*parts):
    print(*parts, flush=True)


def modifier_names(state):
    names = []
    for mask, name in ((Gdk.ModifierType.SHIFT_MASK, "shift"), (Gdk.ModifierType.CONTROL_MASK, "control"),
                       (Gdk.ModifierType.MOD1_MASK, "alt"), (Gdk.ModifierType.SUPER_MASK, "super"),
                       (Gdk.ModifierType.MOD4_MASK, "mod4")):
        if state & mask:
            names.append(name)
    return "+".join(names) or "-"


SCROLLS = {Gdk.ScrollDirection.UP: "up", Gdk.ScrollDirection.DOWN: "down", Gdk.ScrollDirection.LEFT: "left",
           Gdk.ScrollDirection.RIGHT: "right"}


def on_event(event):
    # Every event is seen here before the widgets, which may swallow presses.
    t = event.type
    if t == Gdk.EventType.KEY_PRESS:
        say("key", Gdk.keyval_name(event.keyval), modifier_names(event.state))
    elif t == Gdk.EventType.BUTTON_PRESS:
        say("button press", event.get_button()[1], int(event.x_root), int(event.y_root))
    elif t == Gdk.EventType.BUTTON_RELEASE:
        say("button release", event.get_button()[1], int(event.x_root), int(event.y_root))
    elif t == Gdk.EventType.DOUBLE_BUTTON_PRESS:
        say("button double", event.get_button()[1])
    elif t == Gdk.EventType.SCROLL:
        say("scroll", SCROLLS.get(event.direction, "smooth"))
    elif t == Gdk.EventType.MOTION_NOTIFY and event.state & Gdk.ModifierType.BUTTON1_MASK:
        say("drag", int(event.x_root), int(event.y_root))
    Gtk.main_do_event(event)


def on_changed(entry):
    say("text", entry.get_text().encode("unicode_escape").decode("ascii"))


def main():
    window = Gtk.Window(title="quib test window")
    window.set_default_size(1280, 800)
    window.move(0, 0)
    entry = Gtk.Entry()
    window.add(entry)
    window.add_events(Gdk.EventMask.BUTTON_PRESS_MASK | Gdk.EventMask.BUTTON_RELEASE_MASK |
                      Gdk.EventMask.SCROLL_MASK | Gdk.EventMask.BUTTON_MOTION_MASK)
    Gdk.event_handler_set(on_event)
    entry.connect("changed", on_changed)
    window.connect("destroy", Gtk.main_quit)

    def ready(*_):
        # No window manager runs on the test display: take the input focus ourselves.
        gdk_window = window.get_window()
        gdk_window.focus(Gdk.CURRENT_TIME)
        entry.grab_focus()
        GLib.timeout_add(200, lambda: say("ready") and False)
        return False

    window.connect("map-event", ready)
    window.show_all()
    sys.stdin.close()
    Gtk.main()


if __name__ == "__main__":
    main()
