"""The one-shot modes of the real executable: dispatch, usage, exit statuses, the permission
report, the System Settings window and the output load run."""

import json
import os
import subprocess
import time
import unittest

from harness import NATIVE, TestWindow, frame_geometry, main, on_desktop, run_mode

GENERAL_USAGE = (b"usage: tarvine-native serve|extract|icon|transcribe|soak|output-load|permissions|"
                 b"settings-window|text-replacements\n")


class Dispatch(unittest.TestCase):
    def test_no_mode_or_an_unknown_one_prints_the_general_usage(self):
        for args in ([], ["Serve"], ["nothing"], [""]):
            result = run_mode(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertEqual(result.stdout, b"", args)
            self.assertEqual(result.stderr, GENERAL_USAGE, args)

    def test_the_property_list_is_embedded(self):
        dump = subprocess.run(["readelf", "-p", ".tarvine_info_plist", NATIVE], capture_output=True, text=True).stdout
        self.assertIn("<string>Tarvine</string>", dump)
        self.assertIn("Tarvine transcribes your microphone so it can answer with conversation context.", dump)
        self.assertIn("Tarvine transcribes audio on-device to build a live transcript.", dump)
        self.assertIn("Tarvine reads your screen and system audio to answer questions about what you are "
                      "looking at.", dump)


class OutputLoad(unittest.TestCase):
    USAGE = b"usage: tarvine-native output-load <lines>\n"

    def test_a_missing_or_malformed_count_is_a_usage_error(self):
        for args in (["output-load"], ["output-load", "abc"], ["output-load", " 5"], ["output-load", "1.0"],
                     ["output-load", "99999999999999999999"]):
            result = run_mode(*args)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", self.USAGE), args)

    def test_zero_and_negative_counts_emit_nothing(self):
        for count in ("0", "-5"):
            result = run_mode("output-load", count)
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stdout, b"")
            self.assertRegex(result.stderr, rb"^reported in \d+ ms\n$")

    def test_one_line_is_twelve_growing_partials_and_a_commit(self):
        result = run_mode("output-load", "1")
        lines = [json.loads(l) for l in result.stdout.splitlines()]
        expected = [{"type": "partial", "speaker": "them", "text": "word " * k} for k in range(1, 13)]
        expected.append({"type": "commit", "speaker": "them", "text": "line 0"})
        self.assertEqual(lines, expected)
        self.assertTrue(result.stdout.endswith(b"\n"))

    def test_a_backlog_that_never_reaches_the_limit_loses_nothing(self):
        # 19 lines are 247 events: even all pending at once, they stay under 256.
        result = run_mode("output-load", "19")
        lines = [json.loads(l) for l in result.stdout.splitlines()]
        self.assertEqual(len(lines), 13 * 19)
        self.assertEqual([m["text"] for m in lines if m["type"] == "commit"], [f"line {i}" for i in range(19)])

    def test_a_slow_reader_loses_partials_but_never_a_commit(self):
        proc = subprocess.Popen([NATIVE, "output-load", "20000"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        data = b""
        while True:
            chunk = proc.stdout.read(4096)
            if not chunk:
                break
            data += chunk
            time.sleep(0.0005)
        proc.wait(60)
        messages = [json.loads(l) for l in data.splitlines()]
        commits = [m["text"] for m in messages if m["type"] == "commit"]
        partials = sum(1 for m in messages if m["type"] == "partial")
        self.assertEqual(commits, [f"line {i}" for i in range(20000)])
        self.assertLess(partials, 12 * 20000, "a slow reader sheds partial events")
        self.assertRegex(proc.stderr.read(), rb"^reported in \d+ ms\n$")


class Permissions(unittest.TestCase):
    def test_outside_a_desktop_everything_is_denied_quickly(self):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": "/nonexistent"}
        env["PULSE_SERVER"] = "unix:/nonexistent/pulse"
        start = time.monotonic()
        result = run_mode("permissions", env=env)
        self.assertLess(time.monotonic() - start, 6)
        self.assertEqual(result.returncode, 0)
        self.assertFalse(result.stdout.endswith(b"\n"))
        self.assertEqual(json.loads(result.stdout), {"microphone": "denied", "screen": "denied",
                                                     "inputMonitoring": "denied", "accessibility": "denied"})

    @unittest.skipUnless(on_desktop(), "needs the virtual desktop")
    def test_on_the_desktop_every_facility_is_granted(self):
        result = run_mode("permissions")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(json.loads(result.stdout), {"microphone": "granted", "screen": "granted",
                                                     "inputMonitoring": "granted", "accessibility": "granted"})

    @unittest.skipUnless(on_desktop(), "needs the virtual desktop")
    def test_a_sound_server_without_an_input_denies_the_microphone(self):
        modules = subprocess.run(["pactl", "list", "short", "modules"], capture_output=True, text=True).stdout
        remap = [l.split()[0] for l in modules.splitlines() if "module-remap-source" in l]
        self.assertTrue(remap, "the session provides a microphone")
        subprocess.run(["pactl", "unload-module", remap[0]], check=True)
        try:
            result = run_mode("permissions")
            self.assertEqual(json.loads(result.stdout)["microphone"], "denied")
        finally:
            subprocess.run(["pactl", "load-module", "module-remap-source", "source_name=mic",
                            "master=mic_feed.monitor"], check=True, capture_output=True)
            subprocess.run(["pactl", "set-default-source", "mic"], check=True)


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class SettingsWindow(unittest.TestCase):
    def test_nothing_found_exits_two_silently(self):
        other = TestWindow("Text Editor", "Notes")
        try:
            result = run_mode("settings-window")
            self.assertEqual((result.returncode, result.stdout, result.stderr), (2, b"", b""))
        finally:
            other.close()

    def test_the_settings_window_bounds_match_the_screen(self):
        window = TestWindow("System Settings", "Privacy & Security", 700, 500)
        other = TestWindow("Text Editor", "Notes")  # in front of it
        try:
            result = run_mode("settings-window")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertFalse(result.stdout.endswith(b"\n"))
            self.assertEqual(json.loads(result.stdout), frame_geometry(window.xid))
        finally:
            other.close()
            window.close()

    def test_the_bounds_count_from_the_primary_monitor(self):
        # Two monitors side by side, the primary on the right: positions count from its corner.
        subprocess.run(["xrandr", "--setmonitor", "LEFT", "960/254x1080/286+0+0", "screen"], check=True)
        subprocess.run(["xrandr", "--setmonitor", "*RIGHT", "960/254x1080/286+960+0", "none"], check=True)
        window = TestWindow("System Settings", "Privacy & Security", 300, 200)
        try:
            result = run_mode("settings-window")
            self.assertEqual(result.returncode, 0, result.stderr)
            expected = frame_geometry(window.xid)
            expected["X"] -= 960
            self.assertEqual(json.loads(result.stdout), expected)
        finally:
            window.close()
            subprocess.run(["xrandr", "--delmonitor", "RIGHT"], capture_output=True)
            subprocess.run(["xrandr", "--delmonitor", "LEFT"], capture_output=True)


if __name__ == "__main__":
    main()
