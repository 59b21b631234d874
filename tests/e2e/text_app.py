"""A GTK 3 test application for the text tests: one window with a text entry (or a password
entry) whose text it reports, and a clipboard owner that offers whatever targets it is told.

Usage: text_app.py PROGRAM_CLASS TITLE [--password] [--icon]
Prints {"ready": window id} once the entry has the focus, then {"text": ...} whenever the
entry's text changes. Reads JSON commands on stdin, one per line:
  {"cmd": "own", "targets": {target: base64 data, ...}, "hang": seconds}
                                                           answers {"owned": true}; data
                                                           requests then wait "hang" seconds
  {"cmd": "set", "text": ..., "select": [start, end]}     answers {"set": true}
Quits when stdin closes."""

import base64
import json
import sys
import time as _time

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

program_class, title = sys.argv[1], sys.argv[2]
password = "--password" in sys.argv[3:]
with_icon = "--icon" in sys.argv[3:]
Gdk.set_program_class(program_class)

window = Gtk.Window(title=title)
window.set_default_size(480, 120)
entry = Gtk.Entry()
if password:
    entry.set_visibility(False)
    entry.set_input_purpose(Gtk.InputPurpose.PASSWORD)
window.add(entry)
window.connect("destroy", Gtk.main_quit)
if with_icon:
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf  # noqa: E402
    icon = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, True, 8, 48, 48)
    icon.fill(0xD03020FF)
    window.set_icon(icon)


def say(obj):
    print(json.dumps(obj), flush=True)


entry.connect("changed", lambda e: say({"text": e.get_text()}))

# The clipboard owner: an invisible widget answering from `offered`.
CLIPBOARD = Gdk.Atom.intern("CLIPBOARD", False)
owner = Gtk.Invisible()
owner.realize()
offered = []


hang = [0]


def on_selection_get(widget, selection_data, info, time):
    # An owner that hangs: it answers nothing while it sleeps.
    if hang[0]:
        _time.sleep(hang[0])
    name, data = offered[info]
    selection_data.set(Gdk.Atom.intern(name, False), 8, data)


owner.connect("selection-get", on_selection_get)


def own(targets):
    offered.clear()
    Gtk.selection_clear_targets(owner, CLIPBOARD)
    for name, encoded in targets.items():
        offered.append((name, base64.b64decode(encoded)))
        Gtk.selection_add_target(owner, CLIPBOARD, Gdk.Atom.intern(name, False), len(offered) - 1)
    return Gtk.selection_owner_set(owner, CLIPBOARD, Gdk.CURRENT_TIME)


def on_command(source, condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    command = json.loads(line)
    if command["cmd"] == "own":
        hang[0] = command.get("hang", 0)
        say({"owned": own(command["targets"])})
    elif command["cmd"] == "set":
        entry.set_text(command["text"])
        start, end = command.get("select", [-1, -1])
        entry.grab_focus()
        entry.select_region(start, end)
        say({"set": True})
    return True


def announce(*_):
    def ready():
        window.present()
        entry.grab_focus()
        say({"ready": window.get_window().get_xid()})
        return False
    GLib.timeout_add(300, ready)


window.connect("map-event", announce)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_command)
window.show_all()
Gtk.main()
