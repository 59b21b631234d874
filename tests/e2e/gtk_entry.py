"""A GTK 3 window holding one focused text entry, for typing into. Prints "ready <window id>"
once mapped; for each line "text" on stdin prints the entry's text as a JSON string; quits when
stdin closes."""

import json
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

window = Gtk.Window(title=sys.argv[1] if len(sys.argv) > 1 else "Entry")
window.set_default_size(480, 80)
entry = Gtk.Entry()
window.add(entry)
window.connect("destroy", Gtk.main_quit)


def announce(*_):
    def ready():
        window.present()
        entry.grab_focus()
        print("ready", window.get_window().get_xid(), flush=True)
        return False
    GLib.timeout_add(300, ready)


def command(source, condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    if line.strip() == "text":
        print(json.dumps(entry.get_text()), flush=True)
    return True


window.connect("map-event", announce)
GLib.io_add_watch(sys.stdin, GLib.IO_HUP | GLib.IO_IN, command)
window.show_all()
Gtk.main()
