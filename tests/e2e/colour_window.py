"""A GTK 3 test window filled with one colour, for screenshot and window tests.

usage: colour_window.py CLASS RRGGBB X Y WIDTH HEIGHT [dock] [maximized]
Prints "ready <window id>" once mapped; quits when stdin closes."""

import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

program_class, colour = sys.argv[1], sys.argv[2]
x, y, width, height = (int(v) for v in sys.argv[3:7])
flags = set(sys.argv[7:])

Gdk.set_program_class(program_class)
window = Gtk.Window(title=program_class)
if "dock" in flags:
    window.set_type_hint(Gdk.WindowTypeHint.DOCK)
window.set_default_size(width, height)
window.move(x, y)
style = Gtk.CssProvider()
style.load_from_data(f"* {{ background-color: #{colour}; background-image: none; }}".encode())
Gtk.StyleContext.add_provider_for_screen(Gdk.Screen.get_default(), style,
                                         Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
window.add(Gtk.Box())
window.connect("destroy", Gtk.main_quit)


def announce(*_):
    def ready():
        print("ready", window.get_window().get_xid(), flush=True)
        return False
    # The window manager frames and places the window first.
    GLib.timeout_add(400, ready)


window.connect("map-event", announce)
GLib.io_add_watch(sys.stdin, GLib.IO_HUP | GLib.IO_IN, lambda *_: Gtk.main_quit())
if "maximized" in flags:
    window.maximize()
window.show_all()
Gtk.main()
