"""A ten-minute `soak` (two live streams fed in real time): the footprint it reports at its
first progress line and at its end (goal: no growth), beside the resident memory of
pocketsphinx_continuous on the same audio for scale."""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from harness import NATIVE  # noqa: E402
from speech import SENTENCES, speak  # noqa: E402

SECONDS = int(os.environ.get("BENCH_SOAK_SECONDS", "600"))


def main():
    tmp = tempfile.TemporaryDirectory()
    parts = [speak(text, tmp.name, f"s{i}", lead=0.5, tail=1.0)[0] for i, text in enumerate(SENTENCES)]
    talk = os.path.join(tmp.name, "talk.wav")
    subprocess.run(["sox", *parts, talk], check=True)
    # The reports are shown as they come: finishing waits for engines that fell behind.
    proc = subprocess.Popen([NATIVE, "soak", talk, "en-US", str(SECONDS)], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    lines = []
    for line in proc.stderr:
        print("  " + line.rstrip(), flush=True)
        lines.append(line)
    if proc.wait() != 0 or not lines:
        sys.exit("soak failed")
    # The progress lines, while both streams run; the final line comes after their engines went.
    footprints = [float(m.group(1)) for m in (re.search(r"^t=.*footprint=([\d.]+)MB", l) for l in lines) if m]
    if not footprints:
        sys.exit("no progress line: run for 30 seconds or more")
    first, last = footprints[0], footprints[-1]
    print(f"soak {SECONDS} s: footprint {first:.1f} MB at the first report, {last:.1f} MB at the last, "
          f"growth {last - first:+.1f} MB ({last / first:.3f}x; goal: no growth)")
    print(f"final line: {lines[-1]}")

    pcm = os.path.join(tmp.name, "16k.wav")
    subprocess.run(["sox", talk, "-r", "16000", "-c", "1", "-b", "16", pcm], check=True)
    proc = subprocess.Popen(["pocketsphinx_continuous", "-infile", pcm, "-logfn", "/dev/null"],
                            stdout=subprocess.DEVNULL)
    _, _, usage = os.wait4(proc.pid, 0)
    peer = usage.ru_maxrss / 1024
    print(f"for scale: pocketsphinx_continuous (one decoder) peak {peer:.0f} MiB; soak (two decoders) "
          f"{last:.0f} MB, ratio {last / peer:.2f}")


if __name__ == "__main__":
    main()
