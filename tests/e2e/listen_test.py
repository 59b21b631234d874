"""Listening and dictation through the real executable on the virtual desktop: speech made
by flite is played into the speakers (the other party) or the microphone (the user), and the
transcript events are checked against the words spoken and against pocketsphinx_continuous
on the same audio."""

import os
import subprocess
import tempfile
import threading
import time
import unittest

from harness import Serve, main, on_desktop
from speech import SENTENCES, play, reference_transcript, speak, word_error_rate


def commits(messages, speaker):
    return " ".join(m["text"] for m in messages if m.get("type") == "commit" and m.get("speaker") == speaker)


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class Listening(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.files = [speak(text, cls.tmp.name, f"s{i}") for i, text in enumerate(SENTENCES)]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.server = Serve()

    def tearDown(self):
        self.server.kill()

    def start(self, **members):
        reply = self.server.request({"id": "start", "cmd": "listen.start", **members}, timeout=30)
        self.assertEqual(reply, {"id": "start", "ok": True})

    def collect(self, seconds):
        """Every event that arrives within `seconds`."""
        deadline = time.monotonic() + seconds
        out = []
        while time.monotonic() < deadline:
            message = self.server.next_message(timeout=max(0.01, deadline - time.monotonic()))
            if message is not None:
                out.append(message)
        return out

    def play_and_collect(self, path, device, settle=6):
        player = threading.Thread(target=play, args=(path, device))
        player.start()
        events = []
        while player.is_alive():
            events += self.collect(0.5)
        player.join()
        return events + self.collect(settle)

    def test_the_other_party_is_transcribed_as_them_as_well_as_the_reference_tool(self):
        self.start()
        path, _ = self.files[0]
        events = self.play_and_collect(path, "speakers")
        heard = commits(events, "them")
        self.assertTrue(any(m.get("type") == "partial" and m["speaker"] == "them" and m["text"] for m in events),
                        "partial events come while the sentence is spoken")
        ours = word_error_rate(SENTENCES[0], heard)
        reference = word_error_rate(SENTENCES[0], reference_transcript(path))
        print(f"them: heard {heard!r}; WER ours {ours:.2f}, pocketsphinx_continuous {reference:.2f}")
        self.assertLessEqual(ours, reference + 0.10)
        self.assertEqual(commits(events, "me"), "", "the speakers do not reach the microphone")

    def test_the_user_is_transcribed_as_me(self):
        self.start()
        path, _ = self.files[1]
        events = self.play_and_collect(path, "mic_feed")
        heard = commits(events, "me")
        ours = word_error_rate(SENTENCES[1], heard)
        reference = word_error_rate(SENTENCES[1], reference_transcript(path))
        print(f"me: heard {heard!r}; WER ours {ours:.2f}, pocketsphinx_continuous {reference:.2f}")
        self.assertLessEqual(ours, reference + 0.10)

    def test_pause_stops_commits_and_resuming_brings_them_back(self):
        self.start()
        self.assertEqual(self.server.request({"id": "p", "cmd": "listen.pause"}), {"id": "p", "ok": True})
        events = self.play_and_collect(self.files[2][0], "speakers", settle=4)
        self.assertEqual(commits(events, "them"), "", "nothing is transcribed while paused")
        self.assertEqual(self.server.request({"id": "r", "cmd": "listen.pause", "paused": False}),
                         {"id": "r", "ok": True})
        events = self.play_and_collect(self.files[2][0], "speakers")
        self.assertLess(word_error_rate(SENTENCES[2], commits(events, "them")), 0.5)

    def test_stop_replies_then_sends_stopped(self):
        self.start()
        self.server.send({"id": "stop", "cmd": "listen.stop"})
        reply = self.server.reply("stop", timeout=30)
        self.assertEqual(reply, {"id": "stop", "ok": True})
        self.assertIsNotNone(self.server.wait_for(lambda m: m.get("type") == "stopped", timeout=5))
        # Without a session the same holds.
        self.server.send({"id": "again", "cmd": "listen.stop"})
        self.assertEqual(self.server.reply("again"), {"id": "again", "ok": True})
        self.assertIsNotNone(self.server.wait_for(lambda m: m.get("type") == "stopped", timeout=5))

    def test_dictation_returns_the_spoken_sentence(self):
        reply = self.server.request({"id": "d", "cmd": "dictate.start"}, timeout=30)
        self.assertEqual(reply, {"id": "d", "ok": True})
        events = self.play_and_collect(self.files[1][0], "mic_feed", settle=3)
        self.assertTrue(any(m.get("type") == "dictation.level" for m in events), "levels arrive while speaking")
        self.assertFalse([m for m in events if m.get("type") in ("partial", "commit")],
                         "dictation sends no transcript events")
        reply = self.server.request({"id": "e", "cmd": "dictate.stop"}, timeout=30)
        self.assertTrue(reply["ok"])
        self.assertLess(word_error_rate(SENTENCES[1], reply["text"]), 0.5, reply["text"])
        self.assertEqual(reply["text"], reply["text"].strip())

    def test_an_unsupported_locale_fails_to_start(self):
        reply = self.server.request({"id": 1, "cmd": "listen.start", "locale": "xx-YY"}, timeout=30)
        self.assertEqual(reply, {"id": 1, "ok": False,
                                 "error": "Transcription isn't available for xx-YY on this Mac."})
        self.assertEqual(self.server.request({"id": 2, "cmd": "ping"}), {"id": 2, "ok": True})

    def test_switching_the_default_source_restarts_the_microphone(self):
        self.start()
        subprocess.run(["pactl", "load-module", "module-null-sink", "sink_name=other_feed"], check=True,
                       capture_output=True)
        subprocess.run(["pactl", "load-module", "module-remap-source", "source_name=other_mic",
                        "master=other_feed.monitor"], check=True, capture_output=True)
        try:
            subprocess.run(["pactl", "set-default-source", "other_mic"], check=True)
            restarted = self.server.wait_for(
                lambda m: m.get("type") == "log" and m["message"].startswith("listen: mic restarted ("), timeout=10)
            self.assertIsNotNone(restarted)
            events = self.play_and_collect(self.files[1][0], "other_feed")
            self.assertLess(word_error_rate(SENTENCES[1], commits(events, "me")), 0.5)
            # Removing the source in use: the capture restarts on whatever input is left.
            self.unload("module-remap-source", "other_mic")
            subprocess.run(["pactl", "set-default-source", "mic"], check=True)
            restarted = self.server.wait_for(
                lambda m: m.get("type") == "log" and m["message"].startswith("listen: mic restarted ("), timeout=10)
            self.assertIsNotNone(restarted)
            events = self.play_and_collect(self.files[0][0], "mic_feed")
            self.assertLess(word_error_rate(SENTENCES[0], commits(events, "me")), 0.5)
        finally:
            subprocess.run(["pactl", "set-default-source", "mic"], check=True)
            self.unload("module-remap-source", "other_mic")
            self.unload("module-null-sink", "other_feed")

    @staticmethod
    def unload(module_name, argument):
        for module in subprocess.run(["pactl", "list", "short", "modules"], capture_output=True,
                                     text=True).stdout.splitlines():
            if module_name in module and argument in module:
                subprocess.run(["pactl", "unload-module", module.split()[0]], capture_output=True)


class WithoutSoundServer(unittest.TestCase):
    def test_the_documented_errors_arrive_and_nothing_hangs(self):
        env = dict(os.environ, PULSE_SERVER="unix:/nonexistent/pulse")
        server = Serve(env=env)
        try:
            start = time.monotonic()
            reply = server.request({"id": 1, "cmd": "dictate.start"}, timeout=30)
            self.assertEqual(reply, {"id": 1, "ok": False, "error": "Microphone permission denied. Enable it in "
                                     "System Settings ▸ Privacy & Security."})
            server.send({"id": 2, "cmd": "listen.start"})
            reply = server.reply(2, timeout=30)
            self.assertTrue(reply["ok"], reply)
            errors = [server.wait_for(lambda m: m.get("type") == "error", timeout=10) for _ in range(2)]
            self.assertTrue(errors[0]["message"].startswith(
                "System audio unavailable (grant Screen & System Audio Recording): "), errors)
            self.assertEqual(errors[1]["message"], "Microphone permission denied — only system audio will be "
                                                   "transcribed.")
            self.assertEqual(server.request({"id": 3, "cmd": "listen.stop"}, timeout=30), {"id": 3, "ok": True})
            self.assertLess(time.monotonic() - start, 30)
            self.assertEqual(server.close()[0], 0)
        finally:
            server.kill()


if __name__ == "__main__":
    main()
