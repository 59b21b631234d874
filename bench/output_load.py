"""Output channel throughput: `tarvine-native output-load` writing into a pipe drained by a
fast reader, beside `cat` writing the same bytes from a prepared file into the same kind of
pipe. The raw pipe is the limit; the ratio says how close the channel comes to it."""

import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
NATIVE = os.environ.get("TARVINE_NATIVE", os.path.join(ROOT, "build", "tarvine-native"))
LINES = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
RUNS = 5


def drain(cmd):
    """Runs cmd with its stdout on a pipe read in large chunks; returns (seconds, bytes)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    total = 0
    fd = proc.stdout.fileno()
    while True:
        chunk = os.read(fd, 1 << 20)
        if not chunk:
            break
        total += len(chunk)
    proc.wait()
    return time.perf_counter() - start, total


def main():
    with tempfile.NamedTemporaryFile(suffix=".jsonl") as prepared:
        subprocess.run([NATIVE, "output-load", str(LINES)], stdout=prepared, stderr=subprocess.DEVNULL, check=True)
        prepared.flush()
        ours, theirs = [], []
        for _ in range(RUNS):
            seconds, size = drain([NATIVE, "output-load", str(LINES)])
            events = size / (os.path.getsize(prepared.name) / (13 * LINES))
            ours.append((seconds, size, events))
            seconds, size = drain(["cat", prepared.name])
            theirs.append((seconds, size))
    ours.sort()
    theirs.sort()
    seconds, size, events = ours[len(ours) // 2]
    cat_seconds, cat_size = theirs[len(theirs) // 2]
    ours_rate = events / seconds
    cat_rate = (13 * LINES) / cat_seconds
    print(f"output-load {LINES} lines ({13 * LINES} events), median of {RUNS} runs")
    print(f"  tarvine-native: {seconds:.3f} s, {size / 1e6:.1f} MB written, ~{events:.0f} events, "
          f"{ours_rate:,.0f} events/s, {size / seconds / 1e6:.1f} MB/s")
    print(f"  cat (same bytes): {cat_seconds:.3f} s, {cat_size / 1e6:.1f} MB, {cat_rate:,.0f} events/s, "
          f"{cat_size / cat_seconds / 1e6:.1f} MB/s")
    print(f"  ratio tarvine/cat (events per second): {ours_rate / cat_rate:.3f}")


if __name__ == "__main__":
    main()
