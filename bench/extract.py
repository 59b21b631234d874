"""Document extraction: `tarvine-native extract` on a 200-page PDF beside poppler's
`pdftotext` on the same file (median of several runs each). The PDF is written here, page by
page, with 45 lines of text each."""

import os
import statistics
import subprocess
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
NATIVE = os.environ.get("TARVINE_NATIVE", os.path.join(ROOT, "build", "tarvine-native"))
PAGES = 200
RUNS = 5


def write_pdf(path, pages):
    """A plain PDF with Helvetica text on every page."""
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", None,
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"]
    kids = []
    for page in range(pages):
        lines = [f"Page {page + 1} line {n}: the quick brown fox jumps over the lazy dog, twice."
                 for n in range(45)]
        body = "BT /F1 10 Tf 12 TL 50 800 Td " + " ".join(f"({l}) '" for l in lines) + " ET"
        objects.append(f"<< /Length {len(body)} >>\nstream\n{body}\nendstream")
        objects.append(f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
                       f"/Resources << /Font << /F1 3 0 R >> >> /Contents {len(objects)} 0 R >>")
        kids.append(f"{len(objects)} 0 R")
    objects[1] = f"<< /Type /Pages /Kids [{' '.join(kids)}] /Count {pages} >>"
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += f"{number} 0 obj\n{body}\nendobj\n".encode("latin-1")
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    out += b"".join(f"{o:010d} 00000 n \n".encode() for o in offsets)
    out += f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    with open(path, "wb") as f:
        f.write(out)


def median_seconds(cmd):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    with tempfile.TemporaryDirectory() as folder:
        pdf = os.path.join(folder, "report.pdf")
        write_pdf(pdf, PAGES)
        ours = median_seconds([NATIVE, "extract", pdf])
        theirs = median_seconds(["pdftotext", pdf, "-"])
        print(f"extract of a {PAGES}-page PDF: {ours * 1000:.0f} ms; pdftotext: {theirs * 1000:.0f} ms; "
              f"ratio {ours / theirs:.2f} (goal <= 1.1)")


if __name__ == "__main__":
    main()
