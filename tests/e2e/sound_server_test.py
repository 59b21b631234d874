"""Listening through a sound server of the test's own that goes away: the microphone's restart
attempts form one chain, one second apart, and a server that is killed and started again
brings both "me" and "them" back."""

import os
import signal
import subprocess
import tempfile
import threading
import time
import unittest

from harness import Serve, main, on_desktop
from speech import SENTENCES, speak, word_error_rate


class SoundServer:
    """A private PulseAudio with the devices of the virtual desktop: "speakers" and a "mic"
    fed through "mic_feed"."""

    def __init__(self, directory):
        self.dir = directory
        self.socket = os.path.join(directory, "native")
        config = os.path.join(directory, "session.pa")
        with open(config, "w") as f:
            f.write(f"load-module module-native-protocol-unix auth-anonymous=1 socket={self.socket}\n"
                    "load-module module-null-sink sink_name=speakers\n"
                    "load-module module-null-sink sink_name=mic_feed\n"
                    "load-module module-remap-source source_name=mic master=mic_feed.monitor\n"
                    "set-default-sink speakers\nset-default-source mic\n")
        client = os.path.join(directory, "client.conf")
        with open(client, "w") as f:
            f.write("autospawn = no\n")
        self.env = dict(os.environ, PULSE_SERVER="unix:" + self.socket, PULSE_CLIENTCONFIG=client,
                        PULSE_RUNTIME_PATH=directory, PULSE_STATE_PATH=os.path.join(directory, "state"))
        self.command = ["pulseaudio", "-n", "-F", config, "--daemonize=no", "--exit-idle-time=-1",
                        "--disallow-exit", "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                        "--log-target=stderr"]
        self.proc = None

    def start(self):
        env = {k: v for k, v in self.env.items() if k != "PULSE_SERVER"}
        self.proc = subprocess.Popen(self.command, env=env, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode != 0:
            if time.monotonic() > deadline:
                raise RuntimeError("the test's sound server did not come up")
            time.sleep(0.05)

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait(10)

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True)

    def play(self, path, device):
        subprocess.run(["paplay", "--latency-msec=20", "-d", device, path], env=self.env, check=True,
                       timeout=120)


@unittest.skipUnless(on_desktop(), "needs the virtual desktop")
class SoundServerGoesAway(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.speech = [speak(text, cls.tmp.name, f"s{i}")[0] for i, text in enumerate(SENTENCES[:2])]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.sound = SoundServer(self.dir.name)
        self.sound.start()
        self.server = Serve(env=self.sound.env)
        reply = self.server.request({"id": "start", "cmd": "listen.start"}, timeout=30)
        self.assertEqual(reply, {"id": "start", "ok": True})

    def tearDown(self):
        self.server.kill()
        self.sound.kill()
        self.dir.cleanup()

    def log_line(self, prefix, timeout):
        message = self.server.wait_for(lambda m: m.get("type") == "log" and m["message"].startswith(prefix),
                                       timeout=timeout)
        self.assertIsNotNone(message, f"no log line {prefix!r}")
        return time.monotonic()

    def speak_into_both(self):
        """Plays a sentence into each side at once; the commits of each speaker."""
        players = [threading.Thread(target=self.sound.play, args=(self.speech[0], "speakers")),
                   threading.Thread(target=self.sound.play, args=(self.speech[1], "mic_feed"))]
        for player in players:
            player.start()
        messages = []

        def said(speaker):
            return " ".join(m["text"] for m in messages if m.get("type") == "commit" and m["speaker"] == speaker)
        # Until both sides committed after the playing ended; a loaded machine recognises late.
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            message = self.server.next_message(timeout=0.5)
            if message is not None:
                messages.append(message)
            if not any(p.is_alive() for p in players) and said("them") and said("me"):
                break
        for player in players:
            player.join()
        return said("them"), said("me")

    def test_a_microphone_gone_for_good_is_retried_once_a_second(self):
        module = next(line.split()[0] for line in self.sound.pactl("list", "short", "modules").stdout.splitlines()
                      if "module-remap-source" in line)
        self.sound.pactl("unload-module", module)
        first = self.log_line("listen: mic restart FAILED (1) ", 10)
        second = self.log_line("listen: mic restart FAILED (2) ", 10)
        self.assertGreater(second - first, 0.8, "two chains of attempts run side by side")

    def test_both_sides_come_back_after_the_sound_server_restarts(self):
        them, me = self.speak_into_both()
        self.assertLess(word_error_rate(SENTENCES[0], them), 0.5, them)
        self.assertLess(word_error_rate(SENTENCES[1], me), 0.5, me)

        self.sound.kill()
        self.log_line("system audio stopped: ", 10)
        self.sound.start()
        back = time.monotonic()
        self.log_line("listen: system audio restarted", 10)
        self.log_line("listen: mic restarted (", 10)
        print(f"both captures back {time.monotonic() - back:.1f} s after the server")
        them, me = self.speak_into_both()
        self.assertLess(word_error_rate(SENTENCES[0], them), 0.5, them)
        self.assertLess(word_error_rate(SENTENCES[1], me), 0.5, me)


if __name__ == "__main__":
    main()
