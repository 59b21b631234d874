"""window.snap on the virtual desktop: the focused window's frame, measured with xwininfo and
the window manager's frame extents, lands on the half or the whole of the usable area."""

import subprocess
import time
import unittest

from harness import Serve, frame_geometry, main, on_desktop
from screen_test import ColourWindow

WIDTH, HEIGHT = 1920, 1080


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class Snap(unittest.TestCase):
    def setUp(self):
        self.server = Serve()
        self.windows = []

    def tearDown(self):
        self.server.kill()
        for window in reversed(self.windows):
            window.close()
        time.sleep(0.3)

    def window(self, *args):
        window = ColourWindow(*args)
        self.windows.append(window)
        return window

    def snap(self, request_id, to):
        return self.server.request({"id": request_id, "cmd": "window.snap", "to": to}, timeout=20)

    def assert_snaps(self, xid, usable_height):
        half = WIDTH // 2
        expected = {
            "left": {"X": 0, "Y": 0, "Width": half, "Height": usable_height},
            "right": {"X": half, "Y": 0, "Width": WIDTH - half, "Height": usable_height},
            "maximize": {"X": 0, "Y": 0, "Width": WIDTH, "Height": usable_height},
            "": {"X": 0, "Y": 0, "Width": WIDTH, "Height": usable_height},
        }
        for n, (mode, frame) in enumerate(expected.items()):
            self.assertEqual(self.snap(n, mode), {"id": n, "ok": True})
            self.assertEqual(frame_geometry(xid), frame, mode)

    def test_halves_and_whole_of_the_screen(self):
        window = self.window("Snapped", "3040e0", 300, 200, 500, 300)
        self.assert_snaps(window.xid, HEIGHT)

    def test_a_docks_strut_is_left_free(self):
        dock = self.window("Dock", "202020", 0, HEIGHT - 40, WIDTH, 40, "dock")
        subprocess.run(["xprop", "-id", str(dock.xid), "-f", "_NET_WM_STRUT_PARTIAL", "32c", "-set",
                        "_NET_WM_STRUT_PARTIAL", f"0,0,0,40,0,0,0,0,0,0,0,{WIDTH - 1}"], check=True)
        window = self.window("Snapped", "3040e0", 300, 200, 500, 300)
        time.sleep(0.3)
        self.assert_snaps(window.xid, HEIGHT - 40)

    def test_a_maximized_window_is_restored_then_snapped(self):
        window = self.window("Snapped", "3040e0", 300, 200, 500, 300, "maximized")
        self.assertEqual(self.snap(1, "left"), {"id": 1, "ok": True})
        self.assertEqual(frame_geometry(window.xid), {"X": 0, "Y": 0, "Width": WIDTH // 2, "Height": HEIGHT})
        state = subprocess.run(["xprop", "-id", str(window.xid), "_NET_WM_STATE"], capture_output=True,
                               text=True).stdout
        self.assertNotIn("MAXIMIZED", state)

    def test_no_focused_window(self):
        self.assertEqual(self.snap(1, "left"), {"id": 1, "ok": False, "error": "no-window"})


if __name__ == "__main__":
    main()
