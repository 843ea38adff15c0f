#!/usr/bin/env python3
"""Runs palette-compare and the colour-check driver as processes and checks
them against data from outside the project: Sharma, Wu and Dalal's CIEDE2000
test pairs, published sRGB lightness values, and scikit-image's rgb2lab and
deltaE_ciede2000; pictures are decoded with OpenCV.

    compare_tests.py --exe PATH --colour-check PATH --pairs FILE
                     [--launcher ARG]... --version V [TestClass ...]

--launcher (repeatable) is put before each executable, e.g. --launcher wine
for the .exe files. The programs run in scratch directories and are given
relative paths only, so the same paths work for a native and a Windows build.
"""
import os
import re
import shutil
import sys
import tempfile
import unittest

import cv2
import numpy as np
from skimage.color import deltaE_ciede2000, rgb2lab

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import toolkit_harness as harness  # noqa: E402
from toolkit_harness import directory_snapshot, run, write_file  # noqa: E402

# How far scikit-image may stand from us, and why: its sRGB to XYZ matrix
# has six digits (0.412453, ...) against our seven, and its D65 white is not
# the sum of its matrix rows, so its grays carry a* and b* of up to about
# 0.005. Measured: L*a*b* within 0.0049, CIEDE2000 of one pair of colours
# within 0.022 (near-neutral colours, whose hue that shift turns most), a
# palette's mean within 0.0031 (against a gray ramp). Given the same L*a*b*,
# the two CIEDE2000 agree to 1e-10.
LAB_TOLERANCE = 0.01
ENTRY_DELTA_E_TOLERANCE = 0.03
MEAN_DELTA_E_TOLERANCE = 0.005
SAME_LAB_DELTA_E_TOLERANCE = 1e-6


def colour_check(queries):
    """The driver's answer lines, as lists of floats, one per query line."""
    directory = tempfile.mkdtemp(prefix="colour-check-")
    try:
        status, out, err = run([], directory, executable=harness.OPTIONS.colour_check,
                               stdin_data="".join(queries).encode())
    finally:
        shutil.rmtree(directory)
    assert status == 0 and err == "", err
    answers = [[float(word) for word in line.split()] for line in out.splitlines()]
    assert len(answers) == len(queries), "%d answers to %d queries" % (len(answers), len(queries))
    return answers


def our_lab(colours):
    return np.array(colour_check(["srgb %d %d %d\n" % tuple(c) for c in colours]))


def our_delta_e(first_labs, second_labs):
    queries = ["lab %r %r %r %r %r %r\n" % (tuple(map(float, x)) + tuple(map(float, y)))
               for x, y in zip(first_labs, second_labs)]
    return np.array([answer[0] for answer in colour_check(queries)])


def skimage_lab(colours):
    return rgb2lab(np.asarray(colours, dtype=float).reshape(1, -1, 3) / 255.0).reshape(-1, 3)


def skimage_delta_e(first_colours, second_colours):
    return deltaE_ciede2000(skimage_lab(first_colours), skimage_lab(second_colours))


class PublishedPairTests(unittest.TestCase):
    def test_every_published_pair_to_four_decimals_both_ways(self):
        pairs = []
        with open(harness.OPTIONS.pairs) as file:
            for line in file:
                if line.startswith("#") or not line.strip():
                    continue
                words = line.split()
                # pair, 1, L1 a1 b1, six intermediates, dE, 2, L2 a2 b2, ...
                first, published, second = words[2:5], words[15], words[17:20]
                pairs.append(([float(w) for w in first], [float(w) for w in second], published))
        self.assertEqual(len(pairs), 34)
        ours = our_delta_e([p[0] for p in pairs] + [p[1] for p in pairs],
                           [p[1] for p in pairs] + [p[0] for p in pairs])
        for index, (first, second, published) in enumerate(pairs):
            with self.subTest(pair=index + 1, first=first, second=second):
                self.assertEqual("%.4f" % ours[index], published)
                # The formula is symmetric; a mix-up of the two sides isn't.
                self.assertEqual("%.4f" % ours[index + len(pairs)], published)


class LightnessTests(unittest.TestCase):
    def test_published_lightness_of_known_colours(self):
        # L* of sRGB colours, D65, as colour references publish them.
        cases = [((255, 255, 255), 100.0, 0.01), ((0, 0, 0), 0.0, 1e-9),
                 ((255, 0, 0), 53.24, 0.01), ((0, 255, 0), 87.73, 0.01),
                 ((0, 0, 255), 32.30, 0.01), ((119, 119, 119), 50.0, 0.05)]
        labs = our_lab([colour for colour, _, _ in cases])
        for (colour, lightness, tolerance), lab in zip(cases, labs):
            with self.subTest(colour=colour):
                self.assertAlmostEqual(lab[0], lightness, delta=tolerance)

    def test_grays_are_neutral_and_rise(self):
        labs = our_lab([(level, level, level) for level in range(256)])
        self.assertLess(np.abs(labs[:, 1:]).max(), 1e-6, "a*, b* of grays")
        self.assertTrue((np.diff(labs[:, 0]) > 0).all(), "L* of grays rises")
        self.assertAlmostEqual(labs[255, 0], 100.0, delta=1e-6)


class SkimageLabTests(unittest.TestCase):
    def test_lab_of_a_colour_grid_and_random_colours(self):
        levels = range(0, 256, 15)
        colours = [(r, g, b) for r in levels for g in levels for b in levels]
        colours += [tuple(c) for c in np.random.default_rng(9).integers(0, 256, (3000, 3))]
        difference = np.abs(our_lab(colours) - skimage_lab(colours))
        self.assertLess(difference.max(), LAB_TOLERANCE, colours[int(difference.argmax()) // 3])

    def test_delta_e_of_the_same_lab_pairs(self):
        # Random pairs over the whole space, and pairs built to sit on the
        # formula's branches: neutral sides, hues about 180 degrees apart,
        # and hue sums either side of 360.
        rng = np.random.default_rng(4)
        count = 3000
        first = np.column_stack([rng.uniform(0, 100, count), rng.uniform(-110, 110, (count, 2))])
        second = np.column_stack([rng.uniform(0, 100, count), rng.uniform(-110, 110, (count, 2))])
        chroma = rng.uniform(0, 60, (count, 2))
        hue = rng.uniform(0, 360, count)
        turn = np.radians(hue + rng.choice([179.9, 180.1, 90.0, 270.0, 359.0], count))
        first_built = np.column_stack([rng.uniform(0, 100, count), chroma[:, 0] * np.cos(np.radians(hue)),
                                       chroma[:, 0] * np.sin(np.radians(hue))])
        second_built = np.column_stack([rng.uniform(0, 100, count), chroma[:, 1] * np.cos(turn),
                                        chroma[:, 1] * np.sin(turn)])
        second_built[:50, 1:] = 0
        first = np.vstack([first, first_built])
        second = np.vstack([second, second_built])
        difference = np.abs(our_delta_e(first, second) - deltaE_ciede2000(first, second))
        worst = int(difference.argmax())
        self.assertLess(difference.max(), SAME_LAB_DELTA_E_TOLERANCE, (first[worst], second[worst]))


def palette_file(colours, order="bgra", fourth=None):
    """1,024 bytes holding the colours in the given byte order."""
    data = bytearray()
    for k, (red, green, blue) in enumerate(colours):
        entry = (blue, green, red) if order == "bgra" else (red, green, blue)
        data += bytes(entry) + bytes([fourth(k) if fourth else 0])
    return bytes(data)


# Every colour different, no two channels alike, so that no rearrangement
# of it is the same as another.
BASE = [((255 - k) // 2, (k * k) >> 8, k) for k in range(256)]
GRAY = [(k, k, k) for k in range(256)]


def rotated_up(colours, shift):
    """B's entry k + shift is A's entry k, wrapping round."""
    return [colours[(k - shift) % 256] for k in range(256)]


def swapped(colours):
    return [(blue, green, red) for red, green, blue in colours]


def with_entry(colours, entry, colour):
    changed = list(colours)
    changed[entry] = colour
    return changed


REPORT_PATTERN = re.compile(
    r"A: (?P<a>[^\n]+)\n"
    r"B: (?P<b>[^\n]+)\n"
    r"order: (?P<order>bgra \(blue, green, red, reserved\)|rgba \(red, green, blue, fourth byte\))\n"
    r"colours: (?P<colours>identical|different)\n"
    r"entries differing: (?P<differing>\d+) of 256\n"
    r"largest delta E00: (?P<largest>\d+\.\d{4})(?: at entry (?P<entry>\d+))?\n"
    r"mean delta E00: (?P<mean>\d+\.\d{4})\n"
    r"entries differing visibly: (?P<visible>\d+) \(delta E00 above 1\)\n"
    r"fourth byte: (?P<fourth>the same in every entry|differs in \d+ entr(?:y|ies) "
    r"\(not a colour, not counted\))\n"
    r"(?P<relations>(?:relation: [^\n]+\n)*)"
    r"wrote (?P<picture>[^\n]+)\n\Z")


class ScratchTestCase(harness.ScratchTestCase):
    scratch_prefix = "palette-compare-"

    def compare(self, first, second, args=(), names=("a.bin", "b.bin")):
        """Writes both palettes, runs palette-compare; (status, report, dir)."""
        directory = self.scratch()
        write_file(os.path.join(directory, names[0]), first)
        write_file(os.path.join(directory, names[1]), second)
        status, out, err = run(list(args) + list(names), directory)
        self.assertEqual(err, "")
        report = REPORT_PATTERN.match(out)
        self.assertIsNotNone(report, out)
        return status, report, directory, out


class RelationTests(ScratchTestCase):
    def test_each_relation_and_its_exit_status(self):
        one_step = with_entry(BASE, 77, (BASE[77][0], BASE[77][1], BASE[77][2] + 1))
        cases = [
            ("identical", BASE, BASE, [], 0, []),
            ("fourth byte only", BASE, palette_file(BASE, fourth=lambda k: k), [], 0, []),
            ("reversed", BASE, BASE[::-1], [], 1,
             ["B is A reversed: B's entry k is A's entry 255-k"]),
            ("swapped", BASE, swapped(BASE), [], 1,
             ["B is A with red and blue swapped (the other byte order)"]),
            ("the other byte order of one file", BASE, palette_file(BASE, order="rgba"), [], 1,
             ["B is A with red and blue swapped (the other byte order)"]),
            ("rotated up", BASE, rotated_up(BASE, 5), [], 1,
             ["B is A rotated up by 5 entries: B's entry 5 is A's entry 0"]),
            ("rotated down", BASE, rotated_up(BASE, -3), [], 1,
             ["B is A rotated down by 3 entries: B's entry 0 is A's entry 3"]),
            ("rotated by one", BASE, rotated_up(BASE, 1), [], 1,
             ["B is A rotated up by 1 entry: B's entry 1 is A's entry 0"]),
            ("rotated half way", BASE, rotated_up(BASE, 128), [], 1,
             ["B is A rotated up by 128 entries: B's entry 128 is A's entry 0"]),
            ("rotated down, far side", BASE, rotated_up(BASE, 129), [], 1,
             ["B is A rotated down by 127 entries: B's entry 0 is A's entry 127"]),
            ("reversed and swapped", BASE, swapped(BASE[::-1]), [], 1,
             ["B is A reversed, with red and blue swapped: B's entry k is A's entry 255-k"]),
            ("rotated and swapped", BASE, swapped(rotated_up(BASE, -10)), [], 1,
             ["B is A rotated down by 10 entries: B's entry 0 is A's entry 10, "
              "with red and blue swapped"]),
            # A gray is its own swap: the plain relation alone is named.
            ("gray reversed", GRAY, GRAY[::-1], [], 1,
             ["B is A reversed: B's entry k is A's entry 255-k"]),
            # A period-64 palette: the smallest rotation is the one named.
            ("periodic", [GRAY[(k % 64) * 4] for k in range(256)],
             [GRAY[((k - 70) % 64) * 4] for k in range(256)], [], 1,
             ["B is A rotated up by 6 entries: B's entry 6 is A's entry 0"]),
            ("one entry a step off", BASE, one_step, [], 1, ["none found"]),
            ("one entry changed", BASE, with_entry(BASE, 200, (0, 255, 0)), [], 1,
             ["none found"]),
            ("rgba order", palette_file(BASE, "rgba"), palette_file(BASE[::-1], "rgba"),
             ["--order", "rgba"], 1, ["B is A reversed: B's entry k is A's entry 255-k"]),
        ]
        for name, first, second, args, expected_status, relations in cases:
            with self.subTest(name):
                first_raw = first if isinstance(first, bytes) else palette_file(first)
                second_raw = second if isinstance(second, bytes) else palette_file(second)
                status, report, _, out = self.compare(first_raw, second_raw, args)
                self.assertEqual(status, expected_status, out)
                self.assertEqual(report["relations"],
                                 "".join("relation: %s\n" % r for r in relations), out)
                self.assert_figures(first_raw, second_raw, "rgba" if args else "bgra", report)

    def assert_figures(self, first_raw, second_raw, order, report):
        first, second = decoded(first_raw, order), decoded(second_raw, order)
        differing = [k for k in range(256) if first[k] != second[k]]
        delta_e = skimage_delta_e(first, second)
        self.assertEqual(report["colours"], "different" if differing else "identical")
        self.assertEqual(int(report["differing"]), len(differing))
        self.assertAlmostEqual(float(report["largest"]), delta_e.max(),
                               delta=ENTRY_DELTA_E_TOLERANCE)
        self.assertAlmostEqual(float(report["mean"]), delta_e.mean(),
                               delta=MEAN_DELTA_E_TOLERANCE)
        # Entries within the tolerance of 1 may fall either side.
        surely = sum(1 for k in differing if delta_e[k] > 1 + ENTRY_DELTA_E_TOLERANCE)
        maybe = sum(1 for k in differing if delta_e[k] > 1 - ENTRY_DELTA_E_TOLERANCE)
        self.assertGreaterEqual(int(report["visible"]), surely)
        self.assertLessEqual(int(report["visible"]), maybe)
        if differing:
            self.assertAlmostEqual(delta_e[int(report["entry"])], delta_e.max(),
                                   delta=2 * ENTRY_DELTA_E_TOLERANCE)
        else:
            self.assertIsNone(report["entry"])
        fourth = sum(1 for k in range(256) if first_raw[4 * k + 3] != second_raw[4 * k + 3])
        self.assertEqual(report["fourth"], "the same in every entry" if fourth == 0 else
                         "differs in %d entr%s (not a colour, not counted)"
                         % (fourth, "y" if fourth == 1 else "ies"))

    def test_report_is_fixed_byte_for_byte(self):
        status, _, directory, out = self.compare(palette_file(BASE), palette_file(BASE))
        self.assertEqual(status, 0)
        self.assertEqual(out, "A: a.bin\nB: b.bin\norder: bgra (blue, green, red, reserved)\n"
                              "colours: identical\nentries differing: 0 of 256\n"
                              "largest delta E00: 0.0000\nmean delta E00: 0.0000\n"
                              "entries differing visibly: 0 (delta E00 above 1)\n"
                              "fourth byte: the same in every entry\nwrote a-vs-b.png\n")
        self.assertEqual(sorted(os.listdir(directory)), ["a-vs-b.png", "a.bin", "b.bin"])


def decoded(raw, order):
    entries = [raw[4 * k:4 * k + 4] for k in range(256)]
    if order == "bgra":
        return [(e[2], e[1], e[0]) for e in entries]
    return [(e[0], e[1], e[2]) for e in entries]


class SkimagePaletteTests(ScratchTestCase):
    def test_largest_and_mean_against_skimage(self):
        rng = np.random.default_rng(7)

        def random_palette():
            return [tuple(int(v) for v in c) for c in rng.integers(0, 256, (256, 3))]

        def nudged(colours, reach):
            moved = np.clip(np.array(colours) + rng.integers(-reach, reach + 1, (256, 3)), 0, 255)
            return [tuple(int(v) for v in c) for c in moved]

        near_gray = [(k, min(255, k + 2), max(0, k - 1)) for k in range(256)]
        pairs = {"random %d" % n: (random_palette(), random_palette()) for n in range(4)}
        pairs.update({
            "base nudged by 1": (BASE, nudged(BASE, 1)),
            "random nudged by 3": (random_palette(), nudged(random_palette(), 3)),
            "gray and near gray": (GRAY, near_gray),
            "base and gray": (BASE, GRAY),
            "saturated and dark": ([(255 * (k % 2), 255 * (k // 2 % 2), 255 * (k // 4 % 2))
                                    for k in range(256)], [(k // 8, 0, k // 4) for k in range(256)]),
        })
        for name, (first, second) in pairs.items():
            with self.subTest(name):
                status, report, _, out = self.compare(palette_file(first), palette_file(second))
                self.assertEqual(status, 1, out)
                delta_e = skimage_delta_e(first, second)
                self.assertAlmostEqual(float(report["largest"]), delta_e.max(),
                                       delta=ENTRY_DELTA_E_TOLERANCE)
                self.assertAlmostEqual(float(report["mean"]), delta_e.mean(),
                                       delta=MEAN_DELTA_E_TOLERANCE)
                self.assertAlmostEqual(delta_e[int(report["entry"])], delta_e.max(),
                                       delta=2 * ENTRY_DELTA_E_TOLERANCE)


def expected_level(same, delta_e):
    if same:
        return 0
    if delta_e <= 1:
        return 96
    return 160 + 95 * min(delta_e - 1, 9) / 9


class PictureTests(ScratchTestCase):
    def test_swatches_and_difference_strip(self):
        # Entries 0-63 equal, 64-127 a barely visible step, 128-191 middling
        # changes, 192-255 big ones; read in both byte orders.
        first = [(40 + k // 2, 90, 200 - k // 2) for k in range(256)]
        second = (first[:64] + [(r, g, b + 1) for r, g, b in first[64:128]]
                  + [(r, g + (k % 16), b) for k, (r, g, b) in enumerate(first[128:192])]
                  + [(b, r, g) for r, g, b in first[192:]])
        for order in ("bgra", "rgba"):
            with self.subTest(order=order):
                first_raw, second_raw = palette_file(first, order), palette_file(second, order)
                status, report, directory = self.compare_into_out(first_raw, second_raw, order)
                self.assertEqual(status, 1)
                # out/ or out\, as the platform joins names.
                self.assertRegex(report["picture"], r"\Aout[/\\]first-vs-second\.png\Z")
                picture = cv2.imread(os.path.join(directory, "out", "first-vs-second.png"),
                                     cv2.IMREAD_UNCHANGED)
                self.assertEqual(picture.shape, (96, 256, 3))
                rgb = picture[:, :, ::-1].astype(int)
                self.assertTrue((rgb[:32] == np.array(first)).all(), "A's swatch")
                self.assertTrue((rgb[32:64] == np.array(second)).all(), "B's swatch")
                strip = rgb[64:]
                self.assertTrue((strip == strip[0:1, :, 0:1]).all(), "strip is gray, rows alike")
                delta_e = skimage_delta_e(first, second)
                levels = strip[0, :, 0]
                for k in range(256):
                    expected = expected_level(first[k] == second[k], delta_e[k])
                    # skimage's small offset can move a level by one step.
                    self.assertLessEqual(abs(levels[k] - expected), 1.01, "entry %d" % k)
                self.assertEqual(set(levels[:64]), {0})
                self.assertEqual(set(levels[192:]) - {255}, set(), "big changes white")
                self.assertTrue(set(levels[128:192]) - {0, 96, 255}, "middle levels used")

    def compare_into_out(self, first_raw, second_raw, order):
        directory = self.scratch()
        os.mkdir(os.path.join(directory, "out"))
        write_file(os.path.join(directory, "first.pal"), first_raw)
        write_file(os.path.join(directory, "second.bin"), second_raw)
        status, out, err = run(["--order", order, "--out-dir", "out", "first.pal", "second.bin"],
                               directory)
        self.assertEqual(err, "")
        report = REPORT_PATTERN.match(out)
        self.assertIsNotNone(report, out)
        return status, report, directory


class BadInputTests(ScratchTestCase):
    @classmethod
    def setUpClass(cls):
        cls.template = tempfile.mkdtemp(prefix="palette-compare-template-")
        base = palette_file(BASE)
        os.mkdir(os.path.join(cls.template, "out"))
        os.mkdir(os.path.join(cls.template, "folder.bin"))
        write_file(os.path.join(cls.template, "a.bin"), base)
        write_file(os.path.join(cls.template, "b.bin"), palette_file(BASE[::-1]))
        for name, size in (("empty.bin", 0), ("short.bin", 1023), ("long.bin", 1025)):
            write_file(os.path.join(cls.template, name), base[:size].ljust(size, b"\1"))
        # An earlier picture, which no refused run may touch.
        write_file(os.path.join(cls.template, "out", "b-vs-a.png"), b"earlier picture")
        # The picture's name in out/ is another name of the input a.bin.
        os.mkdir(os.path.join(cls.template, "linked"))
        os.link(os.path.join(cls.template, "a.bin"),
                os.path.join(cls.template, "linked", "a-vs-b.png"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.template)

    def test_refused_with_status_2_one_line_and_nothing_written(self):
        cases = [
            (["missing.bin", "b.bin"], "missing.bin"),
            (["a.bin", "missing.bin"], "missing.bin"),
            (["a.bin", "folder.bin"], "folder.bin"),
            (["empty.bin", "b.bin"], "is 0 bytes, not 1024 bytes"),
            (["a.bin", "short.bin"], "is 1023 bytes, not 1024 bytes"),
            (["long.bin", "b.bin"], "longer than 1024 bytes"),
            (["a.bin"], "not 1"),
            ([], "not 0"),
            (["a.bin", "b.bin", "a.bin"], "not 3"),
            (["--order", "argb", "a.bin", "b.bin"], "argb"),
            (["--order=", "a.bin", "b.bin"], "unknown order"),
            (["a.bin", "b.bin", "--order"], "--order"),
            (["--colour", "a.bin", "b.bin"], "--colour"),
            (["--out-dir", "missing", "a.bin", "b.bin"], "'missing' does not exist"),
            (["--out-dir", "a.bin", "a.bin", "b.bin"], "is not a directory"),
            (["--out-dir", "linked", "a.bin", "b.bin"], "would overwrite the input 'a.bin'"),
        ]
        for args, message in cases:
            with self.subTest(args=" ".join(args)):
                directory = os.path.join(self.scratch(), "case")
                shutil.copytree(self.template, directory, symlinks=True)
                if "linked" in args:
                    os.remove(os.path.join(directory, "linked", "a-vs-b.png"))
                    os.link(os.path.join(directory, "a.bin"),
                            os.path.join(directory, "linked", "a-vs-b.png"))
                before = directory_snapshot(directory)
                status, out, err = run(args, directory)
                self.assertEqual(status, 2, err)
                self.assertEqual(out, "")
                self.assertRegex(err, r"\Apalette-compare: [^\n]+\n\Z")
                self.assertIn(message, err)
                self.assertEqual(directory_snapshot(directory), before)


class CommandLineTests(ScratchTestCase):
    def test_help_and_version_write_nothing(self):
        directory = self.scratch()
        status, out, err = run(["--help"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith(
            "usage: palette-compare [--order bgra|rgba] [--out-dir DIR] PALETTE_A PALETTE_B\n"), out)
        status, out, err = run(["--version"], directory)
        self.assertEqual((status, out, err), (0, "palette-compare %s\n" % harness.VERSION, ""))
        self.assertEqual(os.listdir(directory), [])

    def test_double_dash_and_one_file_against_itself(self):
        status, report, directory, _ = self.compare(
            palette_file(BASE), palette_file(BASE[::-1]), ["--"], names=("-a.bin", "-b.bin"))
        self.assertEqual(status, 1)
        self.assertEqual(report["picture"], "-a-vs--b.png")
        self.assertTrue(os.path.isfile(os.path.join(directory, "-a-vs--b.png")))
        status, out, err = run(["--", "-a.bin", "-a.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertIn("colours: identical\n", out)

    def test_names_in_utf8(self):
        status, report, directory, _ = self.compare(
            palette_file(BASE), palette_file(swapped(BASE)), names=("kälte.bin", "热.bin"))
        self.assertEqual(status, 1)
        self.assertEqual((report["a"], report["picture"]), ("kälte.bin", "kälte-vs-热.png"))
        self.assertIn("kälte-vs-热.png", os.listdir(directory))

    def test_a_picture_that_cannot_be_saved_is_trouble(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "a.bin"), palette_file(BASE))
        write_file(os.path.join(directory, "b.bin"), palette_file(BASE))
        os.mkdir(os.path.join(directory, "a-vs-b.png"))
        before = directory_snapshot(directory)
        status, out, err = run(["a.bin", "b.bin"], directory)
        self.assertEqual((status, out), (2, ""))
        self.assertRegex(err, r"\Apalette-compare: [^\n]*a-vs-b\.png[^\n]*\n\Z")
        self.assertEqual(directory_snapshot(directory), before)

    def test_a_new_picture_replaces_an_earlier_one(self):
        status, _, directory, _ = self.compare(palette_file(BASE), palette_file(GRAY))
        self.assertEqual(status, 1)
        write_file(os.path.join(directory, "b.bin"), palette_file(BASE))
        self.assertEqual(run(["a.bin", "b.bin"], directory)[0], 0)
        picture = cv2.imread(os.path.join(directory, "a-vs-b.png"), cv2.IMREAD_UNCHANGED)
        self.assertTrue((picture[64:] == 0).all(), "no difference left in the strip")
        self.assertEqual(sorted(os.listdir(directory)), ["a-vs-b.png", "a.bin", "b.bin"])


def add_options(parser):
    parser.add_argument("--colour-check", required=True, type=os.path.abspath)
    parser.add_argument("--pairs", required=True)


if __name__ == "__main__":
    harness.main(add_options)
