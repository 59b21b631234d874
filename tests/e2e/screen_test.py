"""Screenshots, fingerprints and the wallpaper of the real executable on the virtual desktop,
checked against ImageMagick's own reading of the screen."""

import base64
import os
import subprocess
import tempfile
import time
import unittest

from harness import PYTHON, Serve, frame_geometry, main, on_desktop

HERE = os.path.dirname(os.path.abspath(__file__))
WIDTH, HEIGHT = 1920, 1080


def rgb(source, width, height, *options):
    """The pixels of an image ImageMagick can read, scaled to width x height, as RGB bytes."""
    return subprocess.run(["convert", source, *options, "-scale", f"{width}x{height}!", "-depth", "8",
                           "rgb:-"], capture_output=True, check=True).stdout


def decoded(data_url):
    """A JPEG data URL as (width, height, RGB bytes at full size)."""
    prefix = "data:image/jpeg;base64,"
    assert data_url.startswith(prefix), data_url[:40]
    jpeg = base64.b64decode(data_url[len(prefix):], validate=True)
    with tempfile.NamedTemporaryFile(suffix=".jpg") as f:
        f.write(jpeg)
        f.flush()
        size = subprocess.run(["identify", "-format", "%w %h", f.name], capture_output=True,
                              text=True, check=True).stdout.split()
        width, height = int(size[0]), int(size[1])
        return width, height, rgb(f.name, width, height)


def mean_difference(a, b):
    assert len(a) == len(b)
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


def pixel(data, width, x, y):
    i = (y * width + x) * 3
    return tuple(data[i:i + 3])


def near(a, b, tolerance=24):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


class ColourWindow:
    def __init__(self, program_class, colour, x, y, width, height, *flags):
        self.proc = subprocess.Popen([PYTHON, os.path.join(HERE, "colour_window.py"), program_class, colour,
                                      str(x), str(y), str(width), str(height), *flags],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        if not line or line[0] != "ready":
            raise RuntimeError("the test window did not come up")
        self.xid = int(line[1])

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(10)


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class Screen(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.wallpaper = os.path.join(cls.tmp.name, "wallpaper.png")
        subprocess.run(["convert", "-size", f"{WIDTH}x{HEIGHT}", "radial-gradient:#ffd040-#103080",
                        "-fill", "#20c0a0", "-draw", "rectangle 1500,100 1800,300", cls.wallpaper], check=True)
        subprocess.run(["hsetroot", "-full", cls.wallpaper], check=True, capture_output=True)
        subprocess.run(["xdotool", "mousemove", "100", "100"], check=True)
        cls.wallpaper_rgb = rgb(cls.wallpaper, WIDTH, HEIGHT)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.windows = []
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.kill()
        for window in self.windows:
            window.close()

    def serve(self, *args):
        self.server = Serve(*args)
        return self.server

    def window(self, *args):
        window = ColourWindow(*args)
        self.windows.append(window)
        return window

    def capture(self, server, request_id, **members):
        reply = server.request({"id": request_id, "cmd": "capture", **members}, timeout=20)
        self.assertTrue(reply["ok"], reply)
        return decoded(reply["dataURL"])

    def test_capture_matches_the_screen_at_each_size(self):
        self.window("Other", "30c040", 300, 200, 500, 300)
        server = self.serve()
        width, height, ours = self.capture(server, 1, max=1920)
        self.assertEqual((width, height), (WIDTH, HEIGHT))
        theirs = rgb("x:root", WIDTH, HEIGHT)
        self.assertLess(mean_difference(ours, theirs), 4)
        # The default limit, a limit of the wrong type, and one above the screen's size.
        self.assertEqual(self.capture(server, 2)[:2], (1440, 810))
        self.assertEqual(self.capture(server, 3, max="800")[:2], (1440, 810))
        self.assertEqual(self.capture(server, 4, max=5000)[:2], (WIDTH, HEIGHT))
        width, height, small = self.capture(server, 5, max=480)
        self.assertEqual((width, height), (480, 270))
        self.assertLess(mean_difference(small, rgb("x:root", 480, 270)), 6)
        # A limit that leaves no pixel is refused, not answered with an empty picture.
        reply = server.request({"id": 6, "cmd": "capture", "max": 0}, timeout=20)
        self.assertEqual((reply["ok"], reply["error"]), (False, "The requested image size is empty."))

    def test_windows_of_the_excluded_process_are_left_out(self):
        beneath = self.window("Beneath", "30c040", 200, 200, 600, 400)
        excluded = self.window("Excluded", "e02020", 500, 400, 600, 400)
        for server_args, red_shows in (([], True), (["--exclude-pid", str(excluded.proc.pid)], False)):
            server = self.serve(*server_args)
            width, _, image = self.capture(server, 1, max=1920)
            server.kill()
            top = frame_geometry(excluded.xid)
            below = frame_geometry(beneath.xid)
            only_excluded = (top["X"] + top["Width"] - 30, top["Y"] + top["Height"] - 30)
            overlap = (top["X"] + 40, top["Y"] + 60)
            only_beneath = (below["X"] + 40, below["Y"] + 60)
            self.assertTrue(near(pixel(image, width, *only_beneath), (0x30, 0xc0, 0x40)))
            if red_shows:
                self.assertTrue(near(pixel(image, width, *only_excluded), (0xe0, 0x20, 0x20)))
                self.assertTrue(near(pixel(image, width, *overlap), (0xe0, 0x20, 0x20)))
            else:
                # What lies beneath shows: the other window, else the desktop picture.
                self.assertTrue(near(pixel(image, width, *overlap), (0x30, 0xc0, 0x40)),
                                pixel(image, width, *overlap))
                self.assertTrue(near(pixel(image, width, *only_excluded),
                                     pixel(self.wallpaper_rgb, WIDTH, *only_excluded)),
                                pixel(image, width, *only_excluded))

    def test_fingerprint_is_a_32_by_18_grey_downscale(self):
        self.window("Other", "3040e0", 100, 100, 900, 500)
        server = self.serve()
        reply = server.request({"id": 1, "cmd": "fingerprint"}, timeout=20)
        self.assertTrue(reply["ok"], reply)
        self.assertEqual(len(reply["pixels"]), 576)
        theirs = subprocess.run(["convert", "x:root", "-scale", "32x18!", "-grayscale", "Rec601Luma",
                                 "-depth", "8", "gray:-"], capture_output=True, check=True).stdout
        self.assertLess(mean_difference(reply["pixels"], theirs), 6)

    def test_wallpaper_set_as_root_pixmap_comes_back(self):
        self.window("Other", "e02020", 100, 100, 900, 500)
        server = self.serve()
        reply = server.request({"id": 1, "cmd": "wallpaper"}, timeout=20)
        self.assertTrue(reply["ok"], reply)
        width, height, image = decoded(reply["dataURL"])
        self.assertEqual((width, height), (WIDTH, HEIGHT))
        self.assertLess(mean_difference(image, self.wallpaper_rgb), 4)

    def test_the_monitor_under_the_mouse_is_captured(self):
        subprocess.run(["xrandr", "--setmonitor", "*LEFT", "960/254x1080/286+0+0", "screen"], check=True)
        subprocess.run(["xrandr", "--setmonitor", "RIGHT", "960/254x1080/286+960+0", "none"], check=True)
        try:
            subprocess.run(["xdotool", "mousemove", "1400", "500"], check=True)
            server = self.serve()
            width, height, ours = self.capture(server, 1, max=1920)
            self.assertEqual((width, height), (960, 1080))
            theirs = rgb("x:root", 960, 1080, "-crop", "960x1080+960+0", "+repage")
            self.assertLess(mean_difference(ours, theirs), 4)
            reply = server.request({"id": 2, "cmd": "wallpaper"}, timeout=20)
            width, height, image = decoded(reply["dataURL"])
            self.assertEqual((width, height), (960, 1080))
            right_half = rgb(self.wallpaper, 960, 1080, "-crop", "960x1080+960+0", "+repage")
            self.assertLess(mean_difference(image, right_half), 4)
        finally:
            subprocess.run(["xrandr", "--delmonitor", "RIGHT"])
            subprocess.run(["xrandr", "--delmonitor", "LEFT"])
            subprocess.run(["xdotool", "mousemove", "100", "100"])
            time.sleep(0.5)


class NoDisplay(unittest.TestCase):
    def test_without_a_display_the_documented_errors(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        server = Serve(env=env)
        try:
            no_display = "No display available to capture. Grant Screen Recording permission in System Settings."
            self.assertEqual(server.request({"id": 1, "cmd": "capture"}, timeout=20),
                             {"id": 1, "ok": False, "error": no_display})
            self.assertEqual(server.request({"id": 2, "cmd": "fingerprint"}, timeout=20),
                             {"id": 2, "ok": False, "error": no_display})
            self.assertEqual(server.request({"id": 3, "cmd": "wallpaper"}, timeout=20),
                             {"id": 3, "ok": False, "error": "No wallpaper window."})
            reply = server.request({"id": 4, "cmd": "window.snap", "to": "left"}, timeout=20)
            self.assertIn(reply.get("error"), ("accessibility", "no-window"))
        finally:
            server.kill()


if __name__ == "__main__":
    main()
