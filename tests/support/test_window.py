#!/usr/bin/python3
# A GTK window with one focused text field that prints every key press (keysym and modifier names),
# pointer button, scroll step and the field's text after each change: what really arrived. A right
# click opens no menu (which would hold the pointer). On Wayland it is fullscreen, so its
# coordinates are the compositor's.
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(*parts):
    print(*parts, flush=True)


MODIFIERS = ((Gdk.ModifierType.SHIFT_MASK, "shift"), (Gdk.ModifierType.CONTROL_MASK, "control"),
             (Gdk.ModifierType.MOD1_MASK, "alt"), (Gdk.ModifierType.SUPER_MASK, "super"),
             (Gdk.ModifierType.MOD4_MASK, "mod4"))


def on_event(event):
    # Every event is seen here before the widgets, which may swallow presses.
    t = event.type
    if t == Gdk.EventType.KEY_PRESS:
        say("key", Gdk.keyval_name(event.keyval), "+".join(n for m, n in MODIFIERS if event.state & m) or "-")
    elif t in (Gdk.EventType.BUTTON_PRESS, Gdk.EventType.BUTTON_RELEASE):
        pressed = t == Gdk.EventType.BUTTON_PRESS
        say("button press" if pressed else "button release", event.get_button()[1], int(event.x_root),
            int(event.y_root))
        if event.get_button()[1] == 3:
            return
    elif t == Gdk.EventType.DOUBLE_BUTTON_PRESS:
        say("button double", event.get_button()[1])
    elif t == Gdk.EventType.SCROLL and event.direction == Gdk.ScrollDirection.SMOOTH:
        _, dx, dy = event.get_scroll_deltas()
        say("scroll smooth", "right" if dx > 0 else "left" if dx < 0 else "down" if dy > 0 else "up" if dy < 0 else "-")
    elif t == Gdk.EventType.SCROLL:
        say("scroll", event.direction.value_nick)
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
    wayland = type(Gdk.Display.get_default()).__name__ == "WaylandDisplay"
    if wayland:
        window.fullscreen()
    Gdk.event_handler_set(on_event)
    entry.connect("changed", on_changed)
    window.connect("destroy", Gtk.main_quit)

    state = {"mapped": False, "said": False}

    def ready(*_):
        if wayland and not window.get_window().get_state() & Gdk.WindowState.FULLSCREEN:
            # A shell may place it below its top bar, moving every pointer position the tests expect.
            if state["said"]:
                window.fullscreen()
            return False
        if state["mapped"] and not state["said"]:
            state["said"] = True
            # No window manager runs on the test display: take the input focus ourselves.
            window.get_window().focus(Gdk.CURRENT_TIME)
            entry.grab_focus()
            GLib.timeout_add(200, lambda: say("ready") and False)
        return False

    def mapped(*_):
        state["mapped"] = True
        return ready()

    window.connect("map-event", mapped)
    window.connect("window-state-event", ready)
    window.show_all()
    sys.stdin.close()
    Gtk.main()


main()
