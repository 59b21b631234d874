"""`transcribe` on a five-minute file of speech beside `pocketsphinx_continuous -infile` on the
same file: CPU seconds, wall seconds and peak resident memory of each, with the ratios."""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from harness import NATIVE  # noqa: E402
from speech import SENTENCES, speak, word_error_rate  # noqa: E402

MINUTES = float(os.environ.get("BENCH_MINUTES", "5"))


def measure(command):
    """(stdout, CPU seconds, wall seconds, peak resident MiB) of one run."""
    start = time.monotonic()
    with tempfile.TemporaryFile() as out:
        proc = subprocess.Popen(command, stdout=out, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
        out.seek(0)
        text = out.read().decode()
    if status != 0:
        sys.exit(f"{command[0]} failed with status {status}")
    return text, usage.ru_utime + usage.ru_stime, wall, usage.ru_maxrss / 1024


def main():
    tmp = tempfile.TemporaryDirectory()
    parts = [speak(text, tmp.name, f"s{i}", lead=0.5, tail=1.0)[0] for i, text in enumerate(SENTENCES)]
    once = os.path.join(tmp.name, "once.wav")
    subprocess.run(["sox", *parts, once], check=True)
    seconds = float(subprocess.run(["soxi", "-D", once], capture_output=True, text=True).stdout)
    repeats = max(int(MINUTES * 60 / seconds), 1)
    # 16 kHz mono 16-bit, the peer's own input format, so that both read the same bytes.
    talk = os.path.join(tmp.name, "talk.wav")
    subprocess.run(["sox", once, "-r", "16000", "-c", "1", "-b", "16", talk, "repeat", str(repeats - 1)], check=True)
    length = float(subprocess.run(["soxi", "-D", talk], capture_output=True, text=True).stdout)
    spoken = " ".join(SENTENCES * repeats)

    ours, our_cpu, our_wall, our_peak = measure([NATIVE, "transcribe", talk, "en-US"])
    peer, peer_cpu, peer_wall, peer_peak = measure(["pocketsphinx_continuous", "-infile", talk, "-logfn", "/dev/null"])
    transcript = ours.rstrip("\n").rsplit("\n", 1)[-1]

    print(f"audio: {length:.0f} s")
    print(f"cpu:  transcribe {our_cpu:.1f} s, pocketsphinx_continuous {peer_cpu:.1f} s, ratio {our_cpu / peer_cpu:.2f} (goal <= 1.1)")
    print(f"wall: transcribe {our_wall:.1f} s, pocketsphinx_continuous {peer_wall:.1f} s, ratio {our_wall / peer_wall:.2f} (goal <= 1.1)")
    print(f"peak memory: transcribe {our_peak:.0f} MiB, pocketsphinx_continuous {peer_peak:.0f} MiB, ratio {our_peak / peer_peak:.2f}")
    print(f"word error rate: transcribe {word_error_rate(spoken, transcript):.3f}, "
          f"pocketsphinx_continuous {word_error_rate(spoken, ' '.join(peer.split())):.3f}")


if __name__ == "__main__":
    main()
