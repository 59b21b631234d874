"""`transcribe` in the real executable, on files spoken by flite, checked against
pocketsphinx_continuous on the same audio."""

import json
import os
import pty
import re
import select
import subprocess
import tempfile
import unittest

from harness import NATIVE, main, run_mode
from speech import SENTENCES, speak, word_error_rate, words

TEXT = SENTENCES + [
    "we need to buy some milk and bread from the store on the corner",
    "the train leaves the station at seven in the evening",
]
TRANSCRIBE_USAGE = b"usage: tarvine-native transcribe <audio> <locale>\n"


def peer_transcript(path):
    """pocketsphinx_continuous on the same audio, in its own input format; as patient as our
    run is with a busy machine."""
    with tempfile.TemporaryDirectory() as tmp:
        pcm = os.path.join(tmp, "16k.wav")
        subprocess.run(["sox", path, "-r", "16000", "-c", "1", "-b", "16", pcm], check=True)
        out = subprocess.run(["pocketsphinx_continuous", "-infile", pcm, "-logfn", "/dev/null"],
                             capture_output=True, text=True, timeout=300).stdout
    return " ".join(out.split())


def split_output(stdout):
    """The "log" events before the transcript, and the transcript (the last line)."""
    assert stdout.endswith(b"\n"), stdout[-200:]
    *logs, transcript = stdout[:-1].split(b"\n")
    return [json.loads(line) for line in logs], transcript.decode()


class Transcribe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        parts = [speak(text, cls.tmp.name, f"part{i}", lead=0.5, tail=1.0)[0] for i, text in enumerate(TEXT)]
        cls.talk = os.path.join(cls.tmp.name, "talk.wav")
        subprocess.run(["sox", *parts, cls.talk], check=True)
        cls.spoken = " ".join(TEXT)

    def original(self):
        """The transcript of the spoken file, made once for the tests that compare with it."""
        if not hasattr(type(self), "_original"):
            type(self)._original = self.transcribe(self.talk)
        return type(self)._original

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def transcribe(self, path, locale="en-US"):
        result = run_mode("transcribe", path, locale, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        logs, transcript = split_output(result.stdout)
        for log in logs:
            self.assertEqual(set(log), {"type", "message"})
            self.assertTrue(log["message"].startswith("[File] "), log)
        return logs, transcript

    def test_spoken_sentences_come_back_in_order_as_well_as_the_peer_hears_them(self):
        logs, transcript = self.original()
        ours = word_error_rate(self.spoken, transcript)
        peer = word_error_rate(self.spoken, peer_transcript(self.talk))
        self.assertLessEqual(ours, peer + 0.02, (transcript, ours, peer))
        self.assertFalse(transcript.startswith("(partial)"))
        # One final segment per commit, joined by single spaces.
        finals = [l for l in logs if re.match(r"\[File\] final segment \(\d+ words\)$", l["message"])]
        self.assertGreaterEqual(len(finals), 2)
        self.assertNotIn("  ", transcript)
        self.assertEqual(logs[-1]["message"].split(" (")[0], "[File] finished")

    def test_a_flac_copy_and_a_44_1_khz_copy_give_the_same_words(self):
        flac, resampled = self.path("talk.flac"), self.path("talk-44k.wav")
        subprocess.run(["sox", self.talk, flac], check=True)
        subprocess.run(["sox", self.talk, "-r", "44100", "-c", "2", resampled], check=True)
        original = self.original()[1]
        self.assertEqual(self.transcribe(flac)[1], original)
        self.assertEqual(words(self.transcribe(resampled)[1]), words(original))

    def test_silence_and_an_empty_file_give_the_partial_prefix_alone(self):
        silence, empty = self.path("silence.wav"), self.path("empty.wav")
        subprocess.run(["sox", "-n", "-r", "16000", "-c", "1", silence, "trim", "0", "3"], check=True)
        subprocess.run(["sox", "-n", "-r", "16000", "-c", "1", empty, "trim", "0", "0"], check=True)
        for path in (silence, empty):
            self.assertEqual(self.transcribe(path)[1], "(partial) ", path)

    def test_an_unsupported_locale_fails_after_the_file_was_opened(self):
        result = run_mode("transcribe", self.talk, "xx-YY")
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertEqual(result.stderr,
                         b'HelperError(message: "Transcription isn\'t available for xx-YY on this Mac.")\n')
        # A file that cannot be opened is reported first, whatever the locale.
        missing = run_mode("transcribe", self.path("missing.wav"), "xx-YY")
        self.assertEqual((missing.returncode, missing.stdout), (1, b""))
        self.assertTrue(missing.stderr.startswith(b"libsndfile: "), missing.stderr)

    def peak_mib(self, path):
        """The transcript and the peak resident memory of one run."""
        with tempfile.TemporaryFile() as out:
            proc = subprocess.Popen([NATIVE, "transcribe", path, "en-US"], stdout=out, stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(proc.pid, 0)
            out.seek(0)
            self.assertEqual(status, 0)
            return split_output(out.read())[1], usage.ru_maxrss / 1024

    def test_a_long_file_is_never_held_in_memory(self):
        # 20 minutes of 48 kHz stereo (460 MB as samples) that the engine gets through quickly;
        # that reading waits for a slow engine is a unit test's business.
        short, long_file = self.path("short.wav"), self.path("long.wav")
        subprocess.run(["sox", "-n", "-r", "48000", "-c", "2", short, "trim", "0", "3"], check=True)
        subprocess.run(["sox", "-n", "-r", "48000", "-c", "2", long_file, "synth", "1200", "brownnoise",
                        "vol", "0.001"], check=True)
        _, baseline = self.peak_mib(short)
        transcript, peak = self.peak_mib(long_file)
        self.assertTrue(transcript.startswith("(partial) "))
        self.assertLess(peak, baseline + 15, (baseline, peak))

    def test_a_terminal_sees_the_progress_and_standard_output_only_the_result(self):
        controller, terminal = pty.openpty()
        proc = subprocess.Popen([NATIVE, "transcribe", self.talk, "en-US"], stdout=subprocess.PIPE,
                                stderr=terminal)
        os.close(terminal)
        seen = b""
        while True:
            ready, _, _ = select.select([controller], [], [], 120)
            if not ready:
                break
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal closed with the process
                break
            if not chunk:
                break
            seen += chunk
        stdout, _ = proc.communicate(timeout=120)
        os.close(controller)
        self.assertEqual(proc.returncode, 0)
        self.assertRegex(seen, rb"\r\d+% 0:\d\d / 0:26\x1b\[K")
        self.assertIn(b"\r100% 0:26 / 0:26\x1b[K", seen)
        self.assertTrue(seen.endswith(b"\r\x1b[K"), seen[-40:])
        self.assertGreater(len(words(split_output(stdout)[1])), 20)

    def test_usage(self):
        for args in (["transcribe"], ["transcribe", self.talk]):
            result = run_mode(*args)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", TRANSCRIBE_USAGE), args)


if __name__ == "__main__":
    main()
