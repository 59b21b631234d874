"""Live transcription on the virtual desktop (run inside scripts/desktop-session, as
`make bench` does): latency from the end of a played sentence to its "commit" event, CPU
seconds per second of audio for a two-channel session, resident memory of a session, and word
error rate and CPU time beside pocketsphinx_continuous on the same audio."""

import os
import resource
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from harness import Serve  # noqa: E402
from speech import SENTENCES, play, speak, word_error_rate, words  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_mib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return 0.0


def reference(path):
    """pocketsphinx_continuous on the same audio: its transcript and CPU seconds."""
    with tempfile.TemporaryDirectory() as tmp:
        pcm = os.path.join(tmp, "16k.wav")
        subprocess.run(["sox", path, "-r", "16000", "-c", "1", "-b", "16", pcm], check=True)
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        out = subprocess.run(["pocketsphinx_continuous", "-infile", pcm, "-logfn", "/dev/null"],
                             capture_output=True, text=True).stdout
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)
    return " ".join(out.split()), cpu


def main():
    if not os.environ.get("TARVINE_DESKTOP_SESSION"):
        sys.exit("run inside scripts/desktop-session (make bench)")
    tmp = tempfile.TemporaryDirectory()
    files = [speak(text, tmp.name, f"s{i}", lead=1.5, tail=3.0) for i, text in enumerate(SENTENCES)]
    server = Serve()
    pid = server.proc.pid
    assert server.request({"id": 1, "cmd": "listen.start"}, timeout=30)["ok"]
    time.sleep(1)
    cpu_start, wall_audio = cpu_seconds(pid), 0.0
    latencies, heard = [], {"me": [], "them": []}
    for i, (path, seconds) in enumerate(files):
        # The same sentence as both parties at once: a two-channel session under load.
        players = [threading.Thread(target=play, args=(path, device)) for device in ("speakers", "mic_feed")]
        for p in players:
            p.start()
        arrivals = []
        while any(p.is_alive() for p in players):
            m = server.next_message(timeout=0.05)
            if m:
                arrivals.append((time.monotonic(), m))
        for p in players:
            p.join()
        # Playback ends with the tail of silence; the speech ended that long before.
        speech_end = time.monotonic() - 3.0
        wall_audio += seconds
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            m = server.next_message(timeout=deadline - time.monotonic())
            if m:
                arrivals.append((time.monotonic(), m))
            got = {x["speaker"] for _, x in arrivals if x.get("type") == "commit"}
            if got >= {"me", "them"}:
                break
        first = {}
        for at, m in arrivals:
            if m.get("type") != "commit":
                continue
            heard[m["speaker"]].append((i, m["text"]))
            if m["speaker"] not in first and set(words(m["text"])) & set(words(SENTENCES[i])):
                first[m["speaker"]] = at
        latencies += [at - speech_end for at in first.values()]
    cpu = cpu_seconds(pid) - cpu_start
    rss = rss_mib(pid)
    server.request({"id": 2, "cmd": "listen.stop"}, timeout=30)
    server.close()

    ref_cpu = 0.0
    rows = []
    for i, (path, seconds) in enumerate(files):
        ref_text, c = reference(path)
        ref_cpu += c
        ours = " ".join(t for j, t in heard["them"] if j == i)
        rows.append((word_error_rate(SENTENCES[i], ours), word_error_rate(SENTENCES[i], ref_text)))
    our_wer = sum(r[0] for r in rows) / len(rows)
    ref_wer = sum(r[1] for r in rows) / len(rows)
    latencies.sort()
    print(f"{len(files)} sentences, {wall_audio:.1f} s of audio on each of two channels")
    print(f"  commit latency after the end of speech: median {latencies[len(latencies) // 2]:.2f} s, "
          f"max {latencies[-1]:.2f} s ({len(latencies)} of {2 * len(files)} commits; the session's null "
          f"sinks add their own playback latency)")
    print(f"  CPU: {cpu / wall_audio:.3f} s per second of audio for the two-channel session "
          f"(pocketsphinx_continuous, one channel, offline: {ref_cpu / wall_audio:.3f}; "
          f"ratio per channel {cpu / 2 / max(ref_cpu, 1e-9):.2f})")
    print(f"  resident memory of the session: {rss:.0f} MiB")
    print(f"  word error rate (them): ours {our_wer:.3f}, pocketsphinx_continuous {ref_wer:.3f}, "
          f"difference {our_wer - ref_wer:+.3f}")


if __name__ == "__main__":
    main()
