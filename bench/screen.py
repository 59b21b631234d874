"""Screenshots on the 1920 x 1080 virtual desktop: "capture" with max 1440, request to reply,
beside `scrot -q 70` of the whole screen in the same run; the same with one window of the
excluded process on screen (the composited path); and "fingerprint"."""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
NATIVE = os.environ.get("TARVINE_NATIVE", os.path.join(ROOT, "build", "tarvine-native"))
COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 30


def timed_requests(args, request):
    proc = subprocess.Popen([NATIVE, "serve", *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
    times = []
    buffered = b""
    for i in range(COUNT + 1):
        start = time.perf_counter()
        proc.stdin.write(json.dumps({"id": i, **request}).encode() + b"\n")
        while b"\n" not in buffered:
            buffered += os.read(proc.stdout.fileno(), 1 << 20)
        line, buffered = buffered.split(b"\n", 1)
        assert json.loads(line)["ok"], line[:200]
        if i:  # the first one also sets up the connection
            times.append(time.perf_counter() - start)
    proc.stdin.close()
    proc.wait()
    return statistics.median(times)


def scrot(directory):
    out = os.path.join(directory, "scrot.jpg")
    times = []
    for _ in range(COUNT):
        start = time.perf_counter()
        subprocess.run(["scrot", "-q", "70", "-o", out], check=True)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    if not os.environ.get("DISPLAY"):
        print("screen: needs a display (run through make bench)")
        return
    with tempfile.TemporaryDirectory() as directory:
        picture = os.path.join(directory, "wallpaper.png")
        subprocess.run(["convert", "-size", "1920x1080", "plasma:fractal", picture], check=True)
        subprocess.run(["hsetroot", "-full", picture], check=True, capture_output=True)
        peer = scrot(directory)
        plain = timed_requests([], {"cmd": "capture", "max": 1440})
        window = subprocess.Popen(["/usr/bin/python3", os.path.join(ROOT, "tests", "e2e", "colour_window.py"),
                                   "Excluded", "e02020", "400", "300", "800", "500"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        window.stdout.readline()
        excluded = timed_requests(["--exclude-pid", str(window.pid)], {"cmd": "capture", "max": 1440})
        fingerprint = timed_requests([], {"cmd": "fingerprint"})
        window.stdin.close()
        window.wait()
    print(f"capture max 1440: tarvine-native {plain * 1000:.1f} ms, scrot -q 70 {peer * 1000:.1f} ms, "
          f"ratio {plain / peer:.2f} (median of {COUNT})")
    print(f"capture max 1440 with an excluded window: tarvine-native {excluded * 1000:.1f} ms, "
          f"scrot -q 70 {peer * 1000:.1f} ms, ratio {excluded / peer:.2f}")
    print(f"fingerprint: tarvine-native {fingerprint * 1000:.1f} ms, scrot -q 70 {peer * 1000:.1f} ms, "
          f"ratio {fingerprint / peer:.2f}")


if __name__ == "__main__":
    main()
