"""Text into other applications, on the virtual desktop: "paste" of 500 characters until a GTK
entry holds them, beside xclip + `xdotool key ctrl+v`; typing of 500 characters beside
`xdotool type`, with how many characters arrived exactly; and the latency of a "clipboard"
event after a copy with xclip (the watcher looks twice a second)."""

import difflib
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from text_test import Serve, TextApp, xclip_copy  # noqa: E402

SAMPLE = "The quick brown fox jumps over the lazy dog; café Straße Ö É ✓ € 😀 日本語. "
TEXT = (SAMPLE * 10)[:500]


def timed_until(window, expected, action, timeout=60):
    window.set("")
    start = time.perf_counter()
    action()
    window.wait_text(expected, timeout)
    return time.perf_counter() - start, window.text


def exact(expected, got):
    blocks = difflib.SequenceMatcher(None, expected, got, autojunk=False).get_matching_blocks()
    return sum(b.size for b in blocks)


def paste(server, window):
    # Until the entry holds the text; the reply follows the clipboard's restore 0.4 s later.
    ours, _ = timed_until(window, TEXT, lambda: server.send({"id": 1, "cmd": "paste", "text": TEXT}))
    server.reply(1, 30)

    def peer():
        xclip_copy(TEXT)
        subprocess.run(["xdotool", "key", "ctrl+v"], check=True)
    theirs, _ = timed_until(window, TEXT, peer)
    print(f"paste of {len(TEXT)} characters: tarvine-native {ours:.3f} s; xclip + xdotool key ctrl+v "
          f"{theirs:.3f} s; ratio {ours / theirs:.2f}")


def typing(server):
    window = TextApp("com.anysphere.sand")
    try:
        ours, got = timed_until(window, TEXT, lambda: server.request({"id": 2, "cmd": "paste", "text": TEXT}, 60))
        theirs, peer_got = timed_until(window, TEXT, lambda: subprocess.run(["xdotool", "type", TEXT]), 30)
        print(f"typing of {len(TEXT)} characters: tarvine-native {ours:.3f} s, {exact(TEXT, got)} exact; "
              f"xdotool type {theirs:.3f} s, {exact(TEXT, peer_got)} exact; ratio {ours / theirs:.2f}")
    finally:
        window.close()


def latency(server):
    server.request({"id": 3, "cmd": "clipboard.watch"})
    delays = []
    for i in range(10):
        text = f"copy {i} {time.time()}"
        start = time.perf_counter()
        xclip_copy(text)
        if server.wait_for(lambda m: m.get("text") == text, 5):
            delays.append(time.perf_counter() - start)
        time.sleep(0.3)
    print(f"clipboard event after an xclip copy: median {statistics.median(delays) * 1000:.0f} ms, "
          f"max {max(delays) * 1000:.0f} ms over {len(delays)} copies (a 0.5 s watcher tick)")


def main():
    server = Serve()
    window = TextApp()
    try:
        paste(server, window)
        window.close()
        typing(server)
        latency(server)
    finally:
        server.kill()


if __name__ == "__main__":
    main()
