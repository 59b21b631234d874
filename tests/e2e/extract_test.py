"""The extract mode on real documents: one text written by LibreOffice as DOCX, DOC, RTF, HTML
and PDF (tests/fixtures/documents/make-documents), plain and Latin-1 text, and files that are
missing or damaged."""

import os
import re
import shutil
import tempfile
import unittest

from harness import ROOT, main, run_mode

FIXTURES = os.path.join(ROOT, "tests", "fixtures", "documents")

BODY = ("Tarvine reads attached documents aloud. Café prices rose by twelve euros (€) in Zürich "
        "yesterday. Columns separated by tabs. Alpha Beta Gamma Delta A line broken in two. "
        "The second page begins here. Greek Ωmega and em—dash close the document.")
HEADER = "Quarterly header line"
FOOTER = "Confidential footer line"
FOOTNOTE = "Footnote about Swiss pricing."


def words(text):
    return re.findall(r"[^\W\d_]+", text)


def in_order(needles, haystack):
    """Whether needles occur in haystack in the same order (other words may lie between)."""
    rest = iter(haystack)
    return all(any(w == h for h in rest) for w in needles)


def extract(path):
    return run_mode("extract", path)


class Documents(unittest.TestCase):
    def test_every_format_reads_the_words_in_order_and_nothing_else(self):
        vocabulary = set(words(" ".join([BODY, HEADER, FOOTER, FOOTNOTE])))
        for extension in ("docx", "doc", "rtf", "html", "pdf"):
            with self.subTest(extension):
                result = extract(os.path.join(FIXTURES, "sample." + extension))
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stderr, b"")
                found = words(result.stdout.decode("utf-8"))
                self.assertTrue(in_order(words(BODY), found), found)
                self.assertTrue(in_order(words(FOOTNOTE), found), found)
                self.assertEqual(set(found) - vocabulary, set(), "no markup or metadata leaks")

    def test_docx_puts_the_header_first_then_body_footnote_and_footer(self):
        text = extract(os.path.join(FIXTURES, "sample.docx")).stdout.decode("utf-8")
        self.assertTrue(in_order(words(" ".join([HEADER, BODY, FOOTNOTE, FOOTER])), words(text)))
        self.assertIn("Alpha\tBeta\nGamma\tDelta\n", text, "table rows read across")
        self.assertIn("Columns\tseparated\tby tabs.\n", text)
        self.assertIn("A line\nbroken in two.", text)

    def test_upper_case_extensions_choose_the_same_reader(self):
        with tempfile.TemporaryDirectory() as folder:
            for extension in ("docx", "pdf", "rtf", "doc"):
                upper = os.path.join(folder, "REPORT." + extension.upper())
                shutil.copy(os.path.join(FIXTURES, "sample." + extension), upper)
                lower = extract(os.path.join(FIXTURES, "sample." + extension))
                self.assertEqual(extract(upper).stdout, lower.stdout, extension)

    def test_an_rtfd_bundle_is_read_through_its_text(self):
        with tempfile.TemporaryDirectory() as folder:
            bundle = os.path.join(folder, "Note.rtfd")
            os.mkdir(bundle)
            with open(os.path.join(bundle, "TXT.rtf"), "wb") as f:
                f.write(b"{\\rtf1\\ansi{\\fonttbl{\\f0 Helvetica;}}\\f0 Bundled \\'e9t\\'e9 text\\par}")
            result = extract(bundle)
            self.assertEqual((result.returncode, result.stdout), (0, "Bundled été text\n".encode()))


class PlainText(unittest.TestCase):
    def write(self, folder, name, data):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_utf8_comes_back_byte_for_byte(self):
        data = "# Notes\r\n\tcafé ✓ 😀  \n\nlast line without newline".encode()
        with tempfile.TemporaryDirectory() as folder:
            for name in ("notes.md", "notes.txt", "Makefile"):
                result = extract(self.write(folder, name, data))
                self.assertEqual((result.returncode, result.stdout), (0, data), name)
            empty = extract(self.write(folder, "empty.txt", b""))
            self.assertEqual((empty.returncode, empty.stdout), (0, b""), "empty text is still text")

    def test_other_bytes_are_read_as_latin1_byte_for_byte(self):
        data = bytes(range(256)) + b"caf\xe9"
        with tempfile.TemporaryDirectory() as folder:
            result = extract(self.write(folder, "table.bin", data))
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stdout, data.decode("latin-1").encode("utf-8"))


class Failures(unittest.TestCase):
    def test_missing_damaged_and_unreadable_files_give_status_2_and_no_output(self):
        with open(os.path.join(FIXTURES, "sample.docx"), "rb") as f:
            docx = f.read()
        with open(os.path.join(FIXTURES, "sample.pdf"), "rb") as f:
            pdf = f.read()
        with tempfile.TemporaryDirectory() as folder:
            cases = {"missing.txt": None, "folder.txt": "dir", "junk.pdf": b"%PDF-1.4 nothing else",
                     "cut.pdf": pdf[: len(pdf) // 3], "junk.docx": b"PK\x03\x04 not really",
                     "cut.docx": docx[: len(docx) // 2], "junk.doc": os.urandom(4096),
                     "text.doc": b"plain words, not Word"}
            for name, data in cases.items():
                path = os.path.join(folder, name)
                if data == "dir":
                    os.mkdir(path)
                elif data is not None:
                    with open(path, "wb") as f:
                        f.write(data)
                result = extract(path)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (2, b"", b""), name)

    def test_without_a_file_argument_prints_the_usage(self):
        result = run_mode("extract")
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (1, b"", b"usage: tarvine-native extract <file>\n"))


if __name__ == "__main__":
    main()
