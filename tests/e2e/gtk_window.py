"""A GTK 3 test application: one window whose application class (WM_CLASS) and title are
given on the command line. Prints "ready <window id>" once mapped; quits when stdin closes."""

import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

program_class, title, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
Gdk.set_program_class(program_class)
window = Gtk.Window(title=title)
window.set_default_size(width, height)
window.add(Gtk.Label(label=title))
window.connect("destroy", Gtk.main_quit)


def announce(*_):
    # Give the window manager a moment to frame and place the window before it is measured.
    def ready():
        print("ready", window.get_window().get_xid(), flush=True)
        return False
    GLib.timeout_add(300, ready)


window.connect("map-event", announce)
GLib.io_add_watch(sys.stdin, GLib.IO_HUP | GLib.IO_IN, lambda *_: Gtk.main_quit())
window.show_all()
Gtk.main()
