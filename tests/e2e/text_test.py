"""Clipboard watching, paste, typing, selection and the frontmost application, driven through
serve mode on the virtual desktop and checked with xclip and GTK test windows."""

import base64
import json
import os
import queue
import subprocess
import threading
import time
import unittest

from harness import PYTHON, Serve, main, on_desktop

PROTOCOL_TARGETS = {"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS", "DELETE"}
LINE = "café Straße Ö É ✓ € 😀 日本語"


class TextApp:
    """tests/e2e/text_app.py: a GTK entry that reports its text, and a clipboard owner."""

    def __init__(self, program_class="TarvineText", *options, env=None):
        script = os.path.join(os.path.dirname(__file__), "text_app.py")
        self.proc = subprocess.Popen([PYTHON, script, program_class, "Text window", *options],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
        self.messages = queue.Queue()
        self.text = ""
        threading.Thread(target=self._read, daemon=True).start()
        ready = self.wait(lambda m: "ready" in m, 20)
        if not ready:
            raise RuntimeError("the text window did not come up")
        self.xid = ready["ready"]

    def _read(self):
        for line in self.proc.stdout:
            self.messages.put(json.loads(line))

    def wait(self, predicate, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            try:
                message = self.messages.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if "text" in message:
                self.text = message["text"]
            if predicate(message):
                return message
            if time.monotonic() > deadline:
                return None

    def wait_text(self, expected, timeout=10):
        if self.text == expected:
            return True
        return self.wait(lambda m: m.get("text") == expected, timeout) is not None

    def send(self, command, answer):
        self.proc.stdin.write(json.dumps(command) + "\n")
        self.proc.stdin.flush()
        return self.wait(lambda m: answer in m)

    def own(self, targets, hang=0):
        encoded = {name: base64.b64encode(data).decode() for name, data in targets.items()}
        return self.send({"cmd": "own", "targets": encoded, "hang": hang}, "owned")

    def set(self, text, select=(-1, -1)):
        return self.send({"cmd": "set", "text": text, "select": list(select)}, "set")

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(10)


def xclip_copy(data, target=None):
    args = ["xclip", "-selection", "clipboard", "-i"] + (["-t", target] if target else [])
    # xclip stays behind to serve the selection: it must not hold the test runner's output open.
    subprocess.run(args, input=data if isinstance(data, bytes) else data.encode(), check=True, timeout=10,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def xclip_read(target):
    return subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", target],
                          capture_output=True, timeout=10).stdout


def clipboard_contents():
    """Every data target of the clipboard with its bytes, as xclip reads them."""
    targets = xclip_read("TARGETS").decode().split()
    return {t: xclip_read(t) for t in targets if t not in PROTOCOL_TARGETS}


def clipboard_events(messages):
    return [m["text"] for m in messages if m.get("type") == "clipboard"]


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class TextTests(unittest.TestCase):
    def setUp(self):
        self.server = Serve()
        self.apps = []
        self.assertEqual(self.server.request({"id": "w", "cmd": "clipboard.watch"}), {"id": "w", "ok": True})

    def tearDown(self):
        self.server.kill()
        for app in self.apps:
            app.close()

    def app(self, *args, **kwargs):
        app = TextApp(*args, **kwargs)
        self.apps.append(app)
        return app

    def next_clipboard_event(self, timeout=3):
        return self.server.wait_for(lambda m: m.get("type") == "clipboard", timeout)

    def test_copied_text_is_reported_exactly_and_secrets_are_not(self):
        xclip_copy("  copied\n text ")
        self.assertEqual(self.next_clipboard_event(), {"type": "clipboard", "text": "  copied\n text "})
        xclip_copy("  copied\n text ")
        self.assertEqual(self.next_clipboard_event()["text"], "  copied\n text ")
        owner = self.app()
        for marker in ("org.nspasteboard.ConcealedType", "org.nspasteboard.TransientType",
                       "x-kde-passwordManagerHint"):
            owner.own({"UTF8_STRING": b"hunter2", marker: b"secret"})
            time.sleep(0.8)
        xclip_copy(b"\x89PNG\r\n\x1a\n", "image/png")
        time.sleep(0.8)
        owner.own({"UTF8_STRING": "from GTK ✓".encode(), "text/html": b"<i>x</i>"})
        self.assertEqual(self.next_clipboard_event()["text"], "from GTK ✓")
        xclip_copy("x" * 100000)
        self.assertEqual(self.next_clipboard_event(5)["text"], "x" * 100000)
        xclip_copy("y" * 100001)
        time.sleep(1)
        xclip_copy("end")
        self.assertEqual(self.next_clipboard_event(5)["text"], "end")

    def test_paste_inserts_text_and_gives_every_target_back(self):
        window = self.app()
        image = os.urandom(600 * 1024)  # large enough to travel incrementally both ways
        window.own({"UTF8_STRING": b"user text", "text/html": b"<b>user</b>", "image/png": image})
        before = clipboard_contents()
        self.assertEqual(before["image/png"], image)
        self.assertEqual(self.server.request({"id": 1, "cmd": "paste", "text": "hello "}), {"id": 1, "ok": True})
        self.assertTrue(window.wait_text("hello "))
        self.assertEqual(self.server.request({"id": 2, "cmd": "paste", "text": LINE}), {"id": 2, "ok": True})
        self.assertTrue(window.wait_text("hello " + LINE), window.text)
        after = clipboard_contents()
        self.assertEqual(sorted(after), sorted(before))
        for target in before:
            self.assertEqual(after[target], before[target], target)
        time.sleep(1)
        status, rest = self.server.close()
        events = clipboard_events(self.server.pending + rest)
        self.assertNotIn("hello ", events)
        self.assertNotIn(LINE, events)

    def test_an_owner_that_never_answers_costs_a_short_wait(self):
        owner = self.app()
        owner.own({"UTF8_STRING": b"slow", "text/html": b"<i>slow</i>"}, hang=6)
        started = time.monotonic()
        self.assertEqual(self.server.request({"id": 1, "cmd": "paste", "text": "quick"}, timeout=10),
                         {"id": 1, "ok": True})
        self.assertLess(time.monotonic() - started, 4)

    def test_typing_path_leaves_the_clipboard_alone(self):
        window = self.app("com.anysphere.sand")
        xclip_copy("keep me")
        self.assertEqual(self.next_clipboard_event()["text"], "keep me")
        text = "Typed: " + LINE + "\nÖÉ"
        reply = self.server.request({"id": 1, "cmd": "paste", "text": text}, timeout=15)
        self.assertEqual(reply, {"id": 1, "ok": True})
        self.assertTrue(window.wait_text(text.replace("\n", "")), window.text)
        self.assertEqual(xclip_read("UTF8_STRING"), b"keep me")
        self.assertIsNone(self.next_clipboard_event(1.5))

    def test_frontmost_names_the_focused_application_with_its_icon(self):
        window = self.app("TarvineFront", "--icon")
        reply = self.server.request({"id": 1, "cmd": "frontmost"})
        self.assertEqual(reply["name"], "TarvineFront")
        self.assertEqual(reply["pid"], window.proc.pid)
        prefix = "data:image/png;base64,"
        self.assertTrue(reply["icon"].startswith(prefix))
        png = base64.b64decode(reply["icon"][len(prefix):])
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        width, height = int.from_bytes(png[16:20], "big"), int.from_bytes(png[20:24], "big")
        self.assertEqual((width, height, png[25]), (64, 64, 6))  # colour type 6: RGBA

    def test_selection_read_through_accessibility_and_the_copy_fallback(self):
        xclip_copy("keep me")
        self.next_clipboard_event()
        window = self.app()
        window.set("hello brave world", (6, 11))
        reply = self.server.request({"id": 1, "cmd": "selection.read"})
        self.assertEqual(reply, {"id": 1, "ok": True, "text": "brave", "pid": window.proc.pid})
        self.assertEqual(xclip_read("UTF8_STRING"), b"keep me")
        window.set("abc", (0, 0))
        self.assertEqual(self.server.request({"id": 2, "cmd": "selection.read"})["error"], "no-selection")
        window.close()
        self.apps.remove(window)

        env = dict(os.environ, NO_AT_BRIDGE="1")
        hidden = self.app("TarvineHidden", env=env)
        hidden.set("copy this please", (5, 9))
        reply = self.server.request({"id": 3, "cmd": "selection.read"})
        self.assertEqual(reply, {"id": 3, "ok": True, "text": "this", "pid": hidden.proc.pid})
        self.assertEqual(xclip_read("UTF8_STRING"), b"keep me")
        self.assertIsNone(self.next_clipboard_event(1.5))

    def test_password_entry_is_secure(self):
        window = self.app("TarvineSecret", "--password")
        window.set("hunter2", (0, 7))
        self.assertEqual(self.server.request({"id": 1, "cmd": "selection.read"})["error"], "secure")

    def test_selection_replace(self):
        window = self.app()
        window.set("hello brave world", (6, 11))
        reply = self.server.request({"id": 1, "cmd": "selection.replace", "text": "NEW", "pid": window.proc.pid})
        self.assertEqual(reply, {"id": 1, "ok": True, "pasted": True})
        self.assertTrue(window.wait_text("hello NEW world"), window.text)
        reply = self.server.request({"id": 2, "cmd": "selection.replace", "text": "for later", "pid": 1})
        self.assertEqual(reply, {"id": 2, "ok": True, "pasted": False})
        self.assertEqual(xclip_read("UTF8_STRING"), b"for later")
        self.assertEqual(self.next_clipboard_event()["text"], "for later")


if __name__ == "__main__":
    main()
