"""The `soak` run of the real executable: two live streams fed a file spoken by flite in
real time, its reports, and its usage."""

import json
import re
import tempfile
import unittest

from harness import main, run_mode
from speech import SENTENCES, speak

SOAK_USAGE = b"usage: tarvine-native soak <audio> <locale> <seconds>\n"


class Soak(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.talk = speak(" ".join(SENTENCES[:2]), cls.tmp.name, "soak", lead=0.5, tail=1.0)[0]

    def test_ten_seconds_give_one_progress_line_and_a_final_line_with_both_streams_commits(self):
        result = run_mode("soak", self.talk, "en-US", "10", timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stderr.decode().splitlines()
        self.assertEqual(len(lines), 2, lines)
        self.assertRegex(lines[0], r"^t=3[01]s footprint=\d+\.\dMB commits=\d+ failures=0$")
        final = re.match(r"^finish took \d+\.\d\ds footprint=\d+\.\dMB commits=(\d+) failures=0$", lines[1])
        self.assertTrue(final, lines[1])
        messages = [json.loads(line)["message"] for line in result.stdout.splitlines()]
        me = [m for m in messages if m.startswith("[Me] final segment")]
        them = [m for m in messages if m.startswith("[Them] final segment")]
        self.assertTrue(me and them, messages)
        self.assertEqual(int(final.group(1)), len(me) + len(them))

    def test_a_zero_duration_starts_and_finishes_both_streams_at_once(self):
        result = run_mode("soak", self.talk, "en-US", "+0", timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr.decode(), r"^finish took \d+\.\d\ds footprint=\d+\.\dMB commits=0 failures=0\n$")
        messages = [json.loads(line)["message"] for line in result.stdout.splitlines()]
        self.assertIn("[Me] finished (volatile results: 0)", messages)
        self.assertIn("[Them] finished (volatile results: 0)", messages)

    def test_usage_and_errors(self):
        for args in (["soak", self.talk, "en-US"], ["soak", self.talk, "en-US", "10s"],
                     ["soak", "/nonexistent.wav", "en-US", " 5"]):
            result = run_mode(*args)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", SOAK_USAGE), args)
        result = run_mode("soak", self.talk, "xx-YY", "5")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr,
                         b'HelperError(message: "Transcription isn\'t available for xx-YY on this Mac.")\n')


if __name__ == "__main__":
    main()
