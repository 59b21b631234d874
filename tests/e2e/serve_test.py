"""Serve mode of the real executable, driven through its standard input and output as the
host drives it."""

import json
import os
import signal
import subprocess
import time
import unittest

from harness import NATIVE, Serve, main, on_desktop


def signal_dealt_with(pid, signum, timeout=5):
    """Waits until no thread of `pid` holds `signum` pending: the kernel has by then ignored it,
    run the process's handler for it, or ended the process."""
    bit = 1 << (signum - 1)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pending = 0
        try:
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/status") as status:
                    for line in status:
                        if line.startswith(("SigPnd:", "ShdPnd:")):
                            pending |= int(line.split()[1], 16)
        except FileNotFoundError:
            return True
        if not pending & bit:
            return True
        time.sleep(0.01)
    return False


class Protocol(unittest.TestCase):
    def setUp(self):
        self.server = Serve()

    def tearDown(self):
        self.server.kill()

    def test_ping_with_and_without_an_id(self):
        self.assertEqual(self.server.request({"id": 1, "cmd": "ping"}), {"id": 1, "ok": True})
        self.server.send({"cmd": "ping"})
        self.assertEqual(self.server.next_message(), {"ok": True})

    def test_unknown_commands(self):
        self.assertEqual(self.server.request({"id": "a", "cmd": "fly"}),
                         {"id": "a", "ok": False, "error": "unknown command"})
        self.assertEqual(self.server.request({"id": 2}), {"id": 2, "ok": False, "error": "unknown command"})
        self.assertEqual(self.server.request({"id": 3, "cmd": "Ping"})["error"], "unknown command")

    def test_lines_that_are_not_requests_produce_no_output(self):
        for junk in (b"not json", b"", b"[1,2]", b"\"ping\"", b"{\"cmd\":\"ping\"", b"\xff\xfe{}",
                     b"{\"cmd\":\"ping\",\"id\":\"\xc3\"}", b"x" * (10 << 20)):
            self.server.send(junk)
        self.assertEqual(self.server.request({"id": "after", "cmd": "ping"}), {"id": "after", "ok": True})
        status, rest = self.server.close()
        self.assertEqual((status, rest), (0, []))

    def test_pipelined_requests_all_get_replies(self):
        payload = b"".join(json.dumps({"id": i, "cmd": "ping"}).encode() + b"\n" for i in range(10000))
        self.server.proc.stdin.write(payload)
        status, lines = self.server.close(timeout=60)
        self.assertEqual(status, 0)
        self.assertEqual(sorted(m["id"] for m in lines), list(range(10000)))

    def test_end_of_input_flushes_and_exits_zero(self):
        self.server.send({"id": 1, "cmd": "permissions"})
        self.server.send({"id": 2, "cmd": "ping"})
        status, lines = self.server.close()
        self.assertEqual(status, 0)
        self.assertEqual(sorted(m["id"] for m in lines), [1, 2])
        report = next(m for m in lines if m["id"] == 1)
        self.assertEqual(set(report), {"id", "ok", "microphone", "screen", "inputMonitoring", "accessibility"})

    def test_permissions_reply_on_the_desktop(self):
        if not on_desktop():
            self.skipTest("needs the virtual desktop")
        reply = self.server.request({"id": 9, "cmd": "permissions"}, timeout=10)
        self.assertEqual(reply, {"id": 9, "ok": True, "microphone": "granted", "screen": "granted",
                                 "inputMonitoring": "granted", "accessibility": "granted"})


class Lifecycle(unittest.TestCase):
    def test_a_quit_request_does_not_end_the_server(self):
        server = Serve()
        try:
            self.assertEqual(server.request({"id": 1, "cmd": "ping"}), {"id": 1, "ok": True})
            server.proc.send_signal(signal.SIGHUP)
            self.assertTrue(signal_dealt_with(server.proc.pid, signal.SIGHUP))
            self.assertEqual(server.request({"id": 2, "cmd": "ping"}), {"id": 2, "ok": True})
            self.assertIsNone(server.proc.poll())
            self.assertEqual(server.close()[0], 0)
        finally:
            server.kill()

    def test_a_host_that_stops_reading_does_not_kill_it(self):
        proc = subprocess.Popen([NATIVE, "serve"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        proc.stdout.close()
        for i in range(100):
            proc.stdin.write(json.dumps({"id": i, "cmd": "ping"}).encode() + b"\n")
        proc.stdin.close()
        self.assertEqual(proc.wait(20), 0)

    def test_exclude_pid_arguments_never_stop_the_server(self):
        for args in (["--exclude-pid", "123", "--exclude-pid", "456"], ["--exclude-pid", "abc"],
                     ["--exclude-pid", "4294967296"], ["--exclude-pid"]):
            server = Serve(*args)
            try:
                self.assertEqual(server.request({"id": 1, "cmd": "ping"}), {"id": 1, "ok": True}, args)
                self.assertEqual(server.close()[0], 0)
            finally:
                server.kill()

    def test_nothing_is_written_to_standard_error(self):
        server = Serve()
        server.send({"id": 1, "cmd": "permissions"})
        server.send(b"garbage")
        server.proc.stdin.close()
        server.proc.stdout.read()
        self.assertEqual(server.proc.wait(20), 0)
        self.assertEqual(server.proc.stderr.read(), b"")


if __name__ == "__main__":
    main()
