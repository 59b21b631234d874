"""Memory given back after sessions end (run inside scripts/desktop-session, as `make bench`
does): the idle footprint of `tarvine-native serve` after one listen and dictate start/stop
cycle and after N of them (200 unless given as the first argument), with their ratio, beside
the peak resident memory of pocketsphinx_continuous, which loads the same model once."""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from harness import Serve  # noqa: E402

CYCLES = int(sys.argv[1]) if len(sys.argv) > 1 else 200


def footprint_mib(pid):
    """The physical footprint: resident memory less the clean pages shared with others."""
    fields = {}
    for line in open(f"/proc/{pid}/smaps_rollup"):
        parts = line.split()
        if len(parts) >= 2 and parts[1].isdigit():
            fields[parts[0].rstrip(":")] = int(parts[1])
    return (fields.get("Rss", 0) - fields.get("Shared_Clean", 0)) / 1024


def idle_footprint_mib(pid):
    """The footprint once it has settled after a stop (anything freed off the main loop)."""
    time.sleep(0.5)
    last = footprint_mib(pid)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        time.sleep(0.25)
        now = footprint_mib(pid)
        if abs(now - last) < 0.5:
            return now
        last = now
    return last


def cycle(server, number):
    base = number * 4
    for offset, cmd in enumerate(("listen.start", "listen.stop", "dictate.start", "dictate.stop")):
        reply = server.request({"id": base + offset, "cmd": cmd}, timeout=60)
        if not reply or not reply.get("ok"):
            sys.exit(f"{cmd} in cycle {number + 1} failed: {reply}")
    # Events of the sessions ("stopped", "log") are not looked at; they must not pile up here.
    server.pending.clear()


def decoder_peak_mib():
    """pocketsphinx_continuous decoding a second of silence: one model loaded, at its peak."""
    with tempfile.TemporaryDirectory() as tmp:
        silence = os.path.join(tmp, "silence.wav")
        subprocess.run(["sox", "-n", "-r", "16000", "-c", "1", "-b", "16", silence, "trim", "0", "1"],
                       check=True)
        proc = subprocess.Popen(["pocketsphinx_continuous", "-infile", silence, "-logfn", "/dev/null"],
                                stdout=subprocess.DEVNULL)
        _, _, usage = os.wait4(proc.pid, 0)
    return usage.ru_maxrss / 1024


def main():
    if not os.environ.get("TARVINE_DESKTOP_SESSION"):
        sys.exit("run inside scripts/desktop-session (make bench)")
    if CYCLES < 1:
        sys.exit("the number of cycles must be at least 1")
    server = Serve()
    pid = server.proc.pid
    try:
        assert server.request({"id": -1, "cmd": "ping"}, timeout=10)["ok"]
        start = idle_footprint_mib(pid)
        began = time.monotonic()
        cycle(server, 0)
        first = idle_footprint_mib(pid)
        for number in range(1, CYCLES):
            cycle(server, number)
        last = idle_footprint_mib(pid)
        seconds = time.monotonic() - began
    finally:
        server.close()
    peer = decoder_peak_mib()
    print(f"{CYCLES} cycles of listen.start/listen.stop/dictate.start/dictate.stop in {seconds:.0f} s")
    print(f"  idle footprint: at start {start:.1f} MiB, after 1 cycle {first:.1f} MiB, "
          f"after {CYCLES} cycles {last:.1f} MiB, ratio {last / first:.2f}")
    print(f"  pocketsphinx_continuous with the same model, peak resident: {peer:.1f} MiB "
          f"(idle after {CYCLES} cycles / that: {last / peer:.2f})")


if __name__ == "__main__":
    main()
