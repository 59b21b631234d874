"""A GTK 3 window for the addon's tests: a host window, or a drop target for file drags.

window.py TITLE X Y WIDTH HEIGHT [accept|refuse]
Prints "ready <window id>" once mapped and "uri <uri>" for each file dropped on it (accept);
a refusing target answers every drop with failure. Quits when stdin closes."""

import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

title, x, y, width, height = sys.argv[1], *map(int, sys.argv[2:6])
drops = sys.argv[6] if len(sys.argv) > 6 else None

window = Gtk.Window(title=title)
window.set_default_size(width, height)
window.move(x, y)
window.add(Gtk.Label(label=title))
window.connect("destroy", Gtk.main_quit)

uri_list = [Gtk.TargetEntry.new("text/uri-list", 0, 0)]
if drops == "accept":
    window.drag_dest_set(Gtk.DestDefaults.ALL, uri_list, Gdk.DragAction.COPY)

    def received(_widget, _context, _x, _y, data, _info, _time):
        for uri in data.get_uris():
            print("uri", uri, flush=True)

    window.connect("drag-data-received", received)
elif drops == "refuse":
    window.drag_dest_set(Gtk.DestDefaults.MOTION | Gtk.DestDefaults.HIGHLIGHT, uri_list,
                         Gdk.DragAction.COPY)

    def dropped(_widget, context, _x, _y, time):
        print("refused", flush=True)
        Gtk.drag_finish(context, False, False, time)
        return True

    window.connect("drag-drop", dropped)


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
