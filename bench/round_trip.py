"""Request round trip of serve mode: 10,000 pings pipelined (throughput), and one at a time
(latency, p50 and p99), beside the same exchange with `cat` as the peer echoing each line, which
is the floor a line-based pipe protocol can reach from this harness."""

import json
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
NATIVE = os.environ.get("TARVINE_NATIVE", os.path.join(ROOT, "build", "tarvine-native"))
COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 10000


def pipelined(cmd):
    payload = b"".join(json.dumps({"id": i, "cmd": "ping"}).encode() + b"\n" for i in range(COUNT))
    start = time.perf_counter()
    proc = subprocess.run(cmd, input=payload, capture_output=True)
    seconds = time.perf_counter() - start
    assert proc.stdout.count(b"\n") == COUNT, "every request gets its line"
    return seconds


def one_at_a_time(cmd, count):
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
    reader = proc.stdout
    latencies = []
    buffered = b""
    for i in range(count):
        line = json.dumps({"id": i, "cmd": "ping"}).encode() + b"\n"
        start = time.perf_counter()
        proc.stdin.write(line)
        while b"\n" not in buffered:
            buffered += os.read(reader.fileno(), 65536)
        _, buffered = buffered.split(b"\n", 1)
        latencies.append(time.perf_counter() - start)
    proc.stdin.close()
    proc.wait()
    latencies.sort()
    return statistics.median(latencies), latencies[int(len(latencies) * 0.99)]


def main():
    serve = [NATIVE, "serve"]
    peer = ["cat"]
    ours = min(pipelined(serve) for _ in range(3))
    theirs = min(pipelined(peer) for _ in range(3))
    print(f"{COUNT} pings pipelined: tarvine-native {ours:.3f} s ({COUNT / ours:,.0f} requests/s); "
          f"cat echo {theirs:.3f} s; ratio {ours / theirs:.2f}")
    p50, p99 = one_at_a_time(serve, COUNT)
    c50, c99 = one_at_a_time(peer, COUNT)
    print(f"{COUNT} pings one at a time: tarvine-native p50 {p50 * 1e6:.0f} us, p99 {p99 * 1e6:.0f} us; "
          f"cat echo p50 {c50 * 1e6:.0f} us, p99 {c99 * 1e6:.0f} us; ratio p50 {p50 / c50:.2f}, p99 {p99 / c99:.2f}")


if __name__ == "__main__":
    main()
