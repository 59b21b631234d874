"""Key hooks on the virtual desktop: right-hand modifier taps pressed with xdotool become
"modifier" events, and snippets typed into a GTK entry are expanded in place."""

import json
import os
import subprocess
import time
import unittest

from harness import PYTHON, Serve, main, on_desktop

HERE = os.path.dirname(os.path.abspath(__file__))


def keycodes():
    """Keysym name -> keycode of the current keymap (xdotool would add modifiers to a keysym
    that is not on the base level, and presses Shift_L with Shift_R: keycodes avoid both)."""
    table = {}
    out = subprocess.run(["xmodmap", "-pke"], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        code, _, syms = line.partition("=")
        syms = syms.split()
        if syms and syms[0] not in table:
            table[syms[0]] = code.split()[1]
    return table


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


def modifier_event(message):
    return message.get("type") == "modifier"


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class ModifierTaps(unittest.TestCase):
    def setUp(self):
        self.serve = Serve()
        self.assertEqual(self.serve.request({"id": 1, "cmd": "modifiers.watch"}), {"id": 1, "ok": True})

    def tearDown(self):
        self.serve.kill()
        subprocess.run(["setxkbmap", "us"], check=False)

    def tap(self, name, hold=0.05):
        code = keycodes()[name]
        xdotool("keydown", code)
        time.sleep(hold)
        xdotool("keyup", code)

    def assert_no_event(self):
        self.assertIsNone(self.serve.wait_for(modifier_event, timeout=1.5))

    def test_a_tap_of_each_right_hand_modifier_is_reported(self):
        for keysym, key in (("Shift_R", "RightShift"), ("Control_R", "RightControl"),
                            ("Alt_R", "RightAlt"), ("Super_R", "RightCommand")):
            self.tap(keysym)
            self.assertEqual(self.serve.wait_for(modifier_event, timeout=5), {"type": "modifier", "key": key})

    def test_a_hold_a_chord_or_a_left_hand_key_is_not(self):
        codes = keycodes()
        self.tap("Shift_R", hold=2.0)  # well past 0.8 s, even when a loaded machine delays events
        self.assert_no_event()
        xdotool("keydown", codes["Shift_R"], "key", codes["a"], "keyup", codes["Shift_R"])
        self.assert_no_event()
        xdotool("keydown", codes["Shift_R"], "keydown", codes["Control_R"], "keyup", codes["Control_R"],
                "keyup", codes["Shift_R"])
        self.assert_no_event()
        xdotool("keydown", codes["Alt_R"], "click", "1", "keyup", codes["Alt_R"])
        self.assert_no_event()
        for keysym in ("Shift_L", "Control_L", "Alt_L", "Super_L"):
            self.tap(keysym)
        self.assert_no_event()

    def test_taps_survive_a_layout_change(self):
        subprocess.run(["setxkbmap", "de"], check=True)
        time.sleep(0.3)
        self.tap("Shift_R")
        self.assertEqual(self.serve.wait_for(modifier_event, timeout=5), {"type": "modifier", "key": "RightShift"})


class EntryWindow:
    """A GTK window with one focused entry (gtk_entry.py) whose text can be read back."""

    def __init__(self):
        self.proc = subprocess.Popen([PYTHON, os.path.join(HERE, "gtk_entry.py"), "Snippets"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        if not line or line[0] != "ready":
            raise RuntimeError("the entry window did not come up")
        self.xid = line[1]
        xdotool("windowactivate", "--sync", self.xid)

    def text(self):
        self.proc.stdin.write("text\n")
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())

    def wait_for_text(self, wanted, timeout=10):
        deadline = time.monotonic() + timeout
        while (text := self.text()) != wanted and time.monotonic() < deadline:
            time.sleep(0.1)
        return text

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(10)
        self.proc.stdout.close()


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class Snippets(unittest.TestCase):
    def setUp(self):
        self.window = EntryWindow()
        self.serve = Serve()
        items = [{"abbreviation": ";sig", "content": "Best regards"}, {"abbreviation": "addr", "content": "Main St 1"}]
        self.assertEqual(self.serve.request({"id": 1, "cmd": "snippets.set", "items": items}), {"id": 1, "ok": True})

    def tearDown(self):
        self.serve.kill()
        self.window.close()
        subprocess.run(["setxkbmap", "us"], check=False)

    def test_a_typed_abbreviation_is_replaced_in_place_in_any_layout(self):
        xdotool("type", "--delay", "40", "Hi ;sig")
        self.assertEqual(self.window.wait_for_text("Hi Best regards"), "Hi Best regards")
        xdotool("type", "--delay", "40", " xaddr")
        self.assertEqual(self.window.wait_for_text("Hi Best regards xaddr", timeout=2), "Hi Best regards xaddr",
                         "addr in the middle of a word stays")
        # German keys: ; is Shift+comma, z and y trade places. The text must follow the layout.
        subprocess.run(["setxkbmap", "de"], check=True)
        time.sleep(0.3)
        xdotool("type", "--delay", "40", " ;sig")
        self.assertEqual(self.window.wait_for_text("Hi Best regards xaddr Best regards"),
                         "Hi Best regards xaddr Best regards")


if __name__ == "__main__":
    main()
