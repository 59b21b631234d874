"""Fuzzer throughput: each libFuzzer target that `make fuzz` built in build-fuzz/ runs for
FUZZ_SECONDS (default 10) on a scratch copy of its corpus; prints executions per second."""

import glob
import os
import re
import shutil
import subprocess
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.environ.get("FUZZ_BUILD", os.path.join(ROOT, "build-fuzz"))
SECONDS = int(os.environ.get("FUZZ_SECONDS", "10"))


def main():
    targets = sorted(glob.glob(os.path.join(BUILD, "*Fuzz")))
    if not targets:
        print("no fuzz targets built: run `make fuzz` first")
        return
    for target in targets:
        name = os.path.basename(target)[: -len("Fuzz")]
        with tempfile.TemporaryDirectory() as corpus:
            for seed in glob.glob(os.path.join(BUILD, "corpus", name, "*")):
                shutil.copy(seed, corpus)
            result = subprocess.run([target, corpus, f"-max_total_time={SECONDS}", "-print_final_stats=1",
                                     "-timeout=10", "-artifact_prefix=" + corpus + "/"],
                                    capture_output=True, text=True)
        runs = re.search(r"stat::number_of_executed_units:\s*(\d+)", result.stderr)
        rate = re.search(r"stat::average_exec_per_sec:\s*(\d+)", result.stderr)
        print(f"{os.path.basename(target)}: {runs.group(1) if runs else '?'} runs in {SECONDS} s, "
              f"{rate.group(1) if rate else '?'} exec/s")


if __name__ == "__main__":
    main()
