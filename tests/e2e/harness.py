"""Shared helpers for end-to-end tests: they drive the real tarvine-native executable from
outside, the way the host application does, and check with independent tools."""

import json
import os
import select
import subprocess
import sys
import time
import unittest

ROOT = os.environ.get("TARVINE_ROOT", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
NATIVE = os.environ.get("TARVINE_NATIVE", os.path.join(ROOT, "build", "tarvine-native"))
PYTHON = "/usr/bin/python3"


def on_desktop():
    return bool(os.environ.get("DISPLAY")) and bool(os.environ.get("TARVINE_DESKTOP_SESSION"))


def run_mode(*args, env=None, timeout=60, stdin=None):
    return subprocess.run([NATIVE, *args], capture_output=True, timeout=timeout, env=env, input=stdin)


class Serve:
    """A running `tarvine-native serve` with line-oriented helpers."""

    def __init__(self, *args, env=None):
        self.proc = subprocess.Popen([NATIVE, "serve", *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.buffer = b""
        self.pending = []

    def send(self, obj):
        line = obj if isinstance(obj, (bytes, bytearray)) else json.dumps(obj).encode()
        self.proc.stdin.write(line + b"\n")
        self.proc.stdin.flush()

    def _read_line(self, deadline):
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if not ready:
                return None
            chunk = os.read(self.proc.stdout.fileno(), 1 << 16)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def next_message(self, timeout=10):
        if self.pending:
            return self.pending.pop(0)
        return self._read_line(time.monotonic() + timeout)

    def wait_for(self, predicate, timeout=10):
        """The first message that matches; others are kept for later reads."""
        deadline = time.monotonic() + timeout
        for i, message in enumerate(self.pending):
            if predicate(message):
                return self.pending.pop(i)
        while True:
            message = self._read_line(deadline)
            if message is None:
                return None
            if predicate(message):
                return message
            self.pending.append(message)

    def reply(self, request_id, timeout=10):
        return self.wait_for(lambda m: "type" not in m and m.get("id") == request_id, timeout)

    def request(self, obj, timeout=10):
        self.send(obj)
        return self.reply(obj.get("id"), timeout)

    def close(self, timeout=30):
        """Ends input; returns (exit status, every line still written)."""
        self.proc.stdin.close()
        rest = self.buffer + self.proc.stdout.read()
        status = self.proc.wait(timeout)
        lines = self.pending + [json.loads(l) for l in rest.split(b"\n") if l]
        self.proc.stderr.close()
        self.proc.stdout.close()
        return status, lines

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            if not stream.closed:
                stream.close()


class TestWindow:
    """A GTK window of a test application, shown on the virtual desktop."""

    def __init__(self, program_class, title="Test window", width=640, height=400):
        script = os.path.join(os.path.dirname(__file__), "gtk_window.py")
        self.proc = subprocess.Popen([PYTHON, script, program_class, title, str(width), str(height)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        if not line or line[0] != "ready":
            raise RuntimeError("the test window did not come up")
        self.xid = int(line[1])

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(10)


def xprop_cardinals(xid, prop):
    out = subprocess.run(["xprop", "-id", str(xid), prop], capture_output=True, text=True).stdout
    if "=" not in out:
        return None
    return [int(v) for v in out.split("=", 1)[1].replace(" ", "").split(",")]


def frame_geometry(xid):
    """The window's frame rectangle in root coordinates, measured with xwininfo and the
    window manager's frame extents."""
    info = subprocess.run(["xwininfo", "-id", str(xid)], capture_output=True, text=True).stdout
    values = {}
    for line in info.splitlines():
        line = line.strip()
        for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            if line.startswith(key + ":"):
                values[key] = int(line.split(":")[1])
    left, right, top, bottom = xprop_cardinals(xid, "_NET_FRAME_EXTENTS") or [0, 0, 0, 0]
    return {"X": values["Absolute upper-left X"] - left, "Y": values["Absolute upper-left Y"] - top,
            "Width": values["Width"] + left + right, "Height": values["Height"] + top + bottom}


def main():
    """Runs the module's tests and ends with the closing line the tools read."""
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    sys.exit(1 if failed else 0)
