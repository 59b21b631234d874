"""The icon mode: SVG files and system symbols (the desktop's icon theme) rendered as black
PNG icons, checked against rsvg-convert's rendering of the same SVG; sizes, scale, weights,
and the documented failures."""

import os
import subprocess
import tempfile
import unittest

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402

from harness import main, run_mode  # noqa: E402

USAGE = b"usage: tarvine-native icon <symbol> <pt> <out.png> [scale] [weight]\n"
# A red square and a half-transparent blue disc: colours and partial coverage both.
WIDE_SVG = (b'<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100" viewBox="0 0 200 100">'
            b'<rect x="10" y="10" width="80" height="80" fill="red"/>'
            b'<circle cx="150" cy="50" r="40" fill="#3080ff" fill-opacity="0.5"/></svg>')


def pixels(path):
    """(width, height, [(r, g, b, a), ...]) of a PNG, read by GdkPixbuf."""
    pixbuf = GdkPixbuf.Pixbuf.new_from_file(path)
    data = pixbuf.get_pixels()
    width, height, stride = pixbuf.get_width(), pixbuf.get_height(), pixbuf.get_rowstride()
    channels = pixbuf.get_n_channels()
    out = []
    for y in range(height):
        for x in range(width):
            p = data[y * stride + x * channels: y * stride + x * channels + channels]
            out.append(tuple(p) if channels == 4 else tuple(p) + (255,))
    return width, height, out


class Icons(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.svg = os.path.join(self.folder, "wide.svg")
        with open(self.svg, "wb") as f:
            f.write(WIDE_SVG)

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.folder])

    def out(self, name="icon.png"):
        return os.path.join(self.folder, name)

    def icon(self, *args):
        return run_mode("icon", *args)

    def assert_black_with_shape_alpha(self, rgba):
        self.assertTrue(any(a == 255 for *_, a in rgba), "the shape is drawn")
        self.assertTrue(any(a == 0 for *_, a in rgba), "the background stays transparent")
        for r, g, b, a in rgba:
            if a:
                self.assertEqual((r, g, b), (0, 0, 0))

    def test_an_svg_is_scaled_to_the_point_size_and_drawn_black_with_rsvgs_alpha(self):
        for scale, size in (("1", (64, 32)), ("3", (192, 96))):
            with self.subTest(scale=scale):
                result = self.icon(self.svg, "32", self.out(), scale)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
                width, height, rgba = pixels(self.out())
                self.assertEqual((width, height), size)
                self.assert_black_with_shape_alpha(rgba)
                reference = self.out("reference.png")
                subprocess.run(["rsvg-convert", "-w", str(width), "-h", str(height), "-o", reference, self.svg],
                               check=True)
                *_, expected = pixels(reference)
                worst = max(abs(p[3] - q[3]) for p, q in zip(rgba, expected))
                self.assertLessEqual(worst, 2, "coverage matches rsvg-convert's")
                # The disc is half transparent: partial alpha survives the blackening.
                disc_centre = (height // 2) * width + width * 3 // 4
                self.assertIn(rgba[disc_centre][3], range(120, 136))

    def test_a_system_symbol_is_drawn_from_the_icon_theme(self):
        result = self.icon("edit-copy-symbolic", "16", self.out(), "2")
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        width, height, rgba = pixels(self.out())
        self.assertEqual((width, height), (32, 32))
        self.assert_black_with_shape_alpha(rgba)
        # The plain name finds the symbolic icon first; weights change nothing the theme can't draw.
        for args in (("edit-copy", "16", self.out("a.png"), "2"),
                     ("edit-copy", "16", self.out("b.png"), "2", "bold"),
                     ("edit-copy", "16", self.out("c.png"), "2", "Bold")):
            self.assertEqual(self.icon(*args).returncode, 0)
            self.assertEqual(pixels(args[2]), (width, height, rgba), args)

    def test_scale_and_weight_arguments_that_do_not_parse_fall_back(self):
        self.assertEqual(self.icon("edit-copy", "16", self.out("one.png"), "abc", "bold").returncode, 0)
        self.assertEqual(pixels(self.out("one.png"))[:2], (16, 16))

    def test_documented_failures(self):
        upper = os.path.join(self.folder, "WIDE.SVG")
        os.rename(self.svg, upper)
        cases = [
            (("no-such-symbol-anywhere", "16", self.out()), "No SF Symbol or SVG named no-such-symbol-anywhere"),
            ((upper, "16", self.out()), "No SF Symbol or SVG named " + upper),
            ((os.path.join(self.folder, "missing.svg"), "16", self.out()),
             "No SF Symbol or SVG named " + os.path.join(self.folder, "missing.svg")),
            (("edit-copy", "16", self.out(), "0"), "Could not allocate bitmap"),
            (("edit-copy", "16", self.out(), "1e300"), "Could not allocate bitmap"),
            (("edit-copy", "nan", self.out()), "Could not allocate bitmap"),
        ]
        for args, message in cases:
            result = self.icon(*args)
            expected = ('HelperError(message: "%s")\n' % message).encode()
            self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", expected), args)
            self.assertFalse(os.path.exists(self.out()), "nothing is written on failure")
        unwritable = self.icon("edit-copy", "16", os.path.join(self.folder, "no", "dir.png"))
        self.assertEqual(unwritable.returncode, 1)
        self.assertTrue(unwritable.stderr.endswith(b"\n") and unwritable.stderr != b"\n")

    def test_usage(self):
        for args in ((), ("edit-copy",), ("edit-copy", "16"), ("edit-copy", " 16", self.out()),
                     ("edit-copy", "16x", self.out()), ("edit-copy", "", self.out())):
            result = self.icon(*args)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", USAGE), args)


if __name__ == "__main__":
    main()
