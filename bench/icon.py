"""Icon export: `tarvine-native icon` of an SVG (a detailed Adwaita icon when present, else a
generated one) beside `rsvg-convert` rendering the same SVG at the same pixel size, median of
several runs each, whole processes as the host runs them."""

import os
import statistics
import subprocess
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
NATIVE = os.environ.get("TARVINE_NATIVE", os.path.join(ROOT, "build", "tarvine-native"))
RUNS = 15
POINTS, SCALE = 128, 2


def make_svg(path):
    shapes = "".join(f'<circle cx="{(i * 37) % 200}" cy="{(i * 53) % 200}" r="{5 + i % 20}" '
                     f'fill="#{(i * 997) % 0xffffff:06x}" fill-opacity="0.6"/>' for i in range(400))
    with open(path, "w") as f:
        f.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="200" height="200">{shapes}</svg>')


def median_seconds(cmd):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    with tempfile.TemporaryDirectory() as folder:
        svg = os.path.join(folder, "drawing.svg")
        make_svg(svg)
        pixels = str(POINTS * SCALE)
        ours = median_seconds([NATIVE, "icon", svg, str(POINTS), os.path.join(folder, "ours.png"), str(SCALE)])
        theirs = median_seconds(["rsvg-convert", "-w", pixels, "-h", pixels, "-o",
                                 os.path.join(folder, "theirs.png"), svg])
        print(f"icon of an SVG at {pixels}x{pixels} px: {ours * 1000:.1f} ms; rsvg-convert: "
              f"{theirs * 1000:.1f} ms; ratio {ours / theirs:.2f} (goal <= 1.0)")


if __name__ == "__main__":
    main()
