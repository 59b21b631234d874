"""Key hooks: expansion latency (last key of an abbreviation typed until the entry holds the
content) beside xdotool typing the same content into the same entry, and the helper's CPU
while someone types 10 characters a second with 1,000 snippets set, beside `xinput test-xi2
--root` listening to the same keys. Runs inside the virtual desktop (bench/run-all)."""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Serve  # noqa: E402
from keyhooks_test import EntryWindow, xdotool  # noqa: E402

CONTENT = "Best regards"
ROUNDS = 5
TYPING_SECONDS = 10


def snippets():
    items = [{"abbreviation": f";s{i:04d}", "content": f"snippet {i}"} for i in range(999)]
    return items + [{"abbreviation": ";sig", "content": CONTENT}]


def clear(window):
    xdotool("key", "ctrl+a", "BackSpace")
    window.wait_for_text("")


def until_entry_holds(window, wanted, started):
    while window.text() != wanted:
        time.sleep(0.005)  # a reader that never pauses starves the entry's own events
        if time.perf_counter() - started > 10:
            raise RuntimeError(f"the entry never held {wanted!r} but {window.text()!r}")
    return time.perf_counter() - started


def latencies(window):
    ours, theirs = [], []
    for _ in range(ROUNDS):
        clear(window)
        xdotool("type", "--delay", "30", ";si")
        started = time.perf_counter()
        xdotool("type", "g")
        ours.append(until_entry_holds(window, CONTENT, started))
        clear(window)
        started = time.perf_counter()
        xdotool("type", "--delay", "0", CONTENT)
        theirs.append(until_entry_holds(window, CONTENT, started))
    return statistics.median(ours), statistics.median(theirs)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def typing_cpu(serve, window):
    clear(window)
    peer = subprocess.Popen(["xinput", "test-xi2", "--root"], stdout=subprocess.DEVNULL)
    time.sleep(0.5)
    ours, theirs = cpu_seconds(serve.proc.pid), cpu_seconds(peer.pid)
    words = "the quick brown fox jumps over a lazy dog "
    typed = 0
    started = time.perf_counter()
    while time.perf_counter() - started < TYPING_SECONDS:
        xdotool("type", "--delay", "100", words)  # 10 characters a second
        typed += len(words)
    elapsed = time.perf_counter() - started
    ours, theirs = cpu_seconds(serve.proc.pid) - ours, cpu_seconds(peer.pid) - theirs
    peer.terminate()
    peer.wait()
    return typed / elapsed, elapsed, ours, theirs


def main():
    window = EntryWindow()
    serve = Serve()
    try:
        reply = serve.request({"id": 1, "cmd": "snippets.set", "items": snippets()})
        assert reply == {"id": 1, "ok": True}, reply
        ours, theirs = latencies(window)
        print(f"expansion latency (1,000 snippets, median of {ROUNDS}): tarvine-native {ours * 1000:.0f} ms; "
              f"xdotool typing the content {theirs * 1000:.0f} ms; ratio {ours / theirs:.2f}")
        rate, elapsed, ours, theirs = typing_cpu(serve, window)
        print(f"CPU while typing {rate:.1f} characters/s for {elapsed:.0f} s: tarvine-native "
              f"{ours * 1000:.0f} ms; xinput test-xi2 --root {theirs * 1000:.0f} ms; "
              f"ratio {ours / max(theirs, 0.01):.2f}")
    finally:
        serve.kill()
        window.close()


if __name__ == "__main__":
    main()
