#!/usr/bin/env python3
"""Runs the palette-export executable as a process and checks its files,
its summary and its refusals.

    export_tests.py --exe PATH [--launcher ARG]... --version V [TestClass ...]

--launcher (repeatable) is put before the executable, e.g. --launcher wine to
run palette-export.exe under Wine. The program always runs in a scratch
directory, and is given relative paths only, so the same paths work for a
native and a Windows build.
"""
import json
import os
import re
import shutil
import struct
import sys
import tempfile
import zlib

# Independent readers, from Debian's packages (scripts/install-deps):
# OpenColorIO reads .cube LUTs, Pillow GIMP gradients and PNG, scikit-image
# gives CIELAB lightness.
import numpy
import PyOpenColorIO
import skimage.color
from PIL import GimpGradientFile, Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import toolkit_harness as harness  # noqa: E402
from toolkit_harness import directory_snapshot, read_file, run, write_file  # noqa: E402

OUTPUT_SUFFIXES = (".png", ".csv", ".gpl", ".lut", "-bgr.bin")
# Every format's file, in the fixed order of the "wrote" lines.
ORDERS = ("bgra", "rgba")
ALL_SUFFIXES = OUTPUT_SUFFIXES + (".act", ".pal", ".json", ".cube", ".ggr", "-curves.png")


def make_palette(entry):
    """1,024 bytes from entry(k) -> four bytes in file order."""
    return bytes(byte for k in range(256) for byte in entry(k))


def known_bytes(k, fourth=0):
    # Three different curves, so that swapping any two channels shows.
    return (k, 255 - k, (k * k) >> 8, fourth)


KNOWN_PALETTE = make_palette(known_bytes)


def colours_of(raw, order):
    """The (red, green, blue) of each entry of raw read in order."""
    entries = [raw[4 * k:4 * k + 3] for k in range(256)]
    return [tuple(e[::-1]) if order == "bgra" else tuple(e) for e in entries]


def expected_files(stem, raw, order):
    """Every output of today's five's exact bytes, except the PNG, whose
    pixels are checked after decoding (its compressed stream is the
    encoder's business)."""
    colours = colours_of(raw, order)
    csv = "index,byte0,byte1,byte2,byte3,red,green,blue,hex\n"
    # The name carries the order, so exports in both orders tell apart.
    gpl = "GIMP Palette\nName: %s (%s)\nColumns: 16\n#\n" % (stem, order)
    for k, (red, green, blue) in enumerate(colours):
        entry = raw[4 * k:4 * k + 4]
        csv += "%d,%d,%d,%d,%d,%d,%d,%d,#%02x%02x%02x\n" % (
            (k,) + tuple(entry) + (red, green, blue, red, green, blue))
        gpl += "%3d %3d %3d\tIndex %d\n" % (red, green, blue, k)
    return {
        stem + ".csv": csv.encode(),
        stem + ".gpl": gpl.encode(),
        stem + ".lut": bytes(c[0] for c in colours) + bytes(c[1] for c in colours)
        + bytes(c[2] for c in colours),
        stem + "-bgr.bin": bytes(b for red, green, blue in colours for b in (blue, green, red)),
    }


def lightness_of(colours):
    """scikit-image's CIELAB L* (D65) of each 8-bit sRGB colour."""
    rgb = numpy.array(colours, dtype=float).reshape(1, -1, 3) / 255
    return [float(value) for value in skimage.color.rgb2lab(rgb)[0, :, 0]]


def paeth(left, up, up_left):
    estimate = left + up - up_left
    distances = (abs(estimate - left), abs(estimate - up), abs(estimate - up_left))
    return (left, up, up_left)[distances.index(min(distances))]


def decode_png(data):
    """(width, height, colour type, rows of (r, g, b) pixels) of an 8-bit RGB
    PNG; raises AssertionError on a malformed file or a bad CRC."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "no PNG signature"
    position, chunks = 8, []
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        (crc,) = struct.unpack(">I", data[position + 8 + length:position + 12 + length])
        assert zlib.crc32(kind + body) == crc, "bad CRC in %r" % kind
        chunks.append((kind, body))
        position += 12 + length
    assert chunks[0][0] == b"IHDR" and chunks[-1][0] == b"IEND"
    width, height, depth, colour_type, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    assert depth == 8 and interlace == 0
    channels = {2: 3, 6: 4}[colour_type]
    stream = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    stride = width * channels
    rows, previous = [], bytes(stride)
    for y in range(height):
        line = stream[y * (stride + 1):(y + 1) * (stride + 1)]
        method, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up_left = previous[i - channels] if i >= channels else 0
            predictor = (0, left, previous[i], (left + previous[i]) // 2,
                         paeth(left, previous[i], up_left))[method]
            row[i] = (row[i] + predictor) & 0xFF
        rows.append([tuple(row[x * channels:x * channels + 3]) for x in range(width)])
        previous = row
    return width, height, colour_type, rows


class ScratchTestCase(harness.ScratchTestCase):
    scratch_prefix = "palette-export-"

    def assert_export(self, out_dir, stem, raw, order):
        colours = colours_of(raw, order)
        for name, expected in expected_files(stem, raw, order).items():
            self.assertEqual(read_file(os.path.join(out_dir, name)), expected, name)
        width, height, colour_type, rows = decode_png(read_file(os.path.join(out_dir, stem + ".png")))
        self.assertEqual((width, height, colour_type), (256, 32, 2))
        for y, row in enumerate(rows):
            self.assertEqual(row, colours, "swatch row %d" % y)

    def export_summary(self, raw, extra_args=()):
        directory = self.scratch()
        write_file(os.path.join(directory, "pal.bin"), raw)
        status, out, err = run(list(extra_args) + ["pal.bin"], directory)
        self.assertEqual((status, err), (0, ""), out)
        return out


class OutputTests(ScratchTestCase):
    def test_each_output_in_both_orders(self):
        cases = [([], "bgra"), (["--order", "bgra"], "bgra"), (["--order", "rgba"], "rgba"),
                 (["--order=rgba"], "rgba")]
        for args, order in cases:
            with self.subTest(args=args):
                directory = self.scratch()
                os.mkdir(os.path.join(directory, "out"))
                write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
                status, out, err = run(args + ["--out-dir", "out", "pal.bin"], directory)
                self.assertEqual((status, err), (0, ""))
                self.assertIn("order %s" % order, out)
                self.assert_export(os.path.join(directory, "out"), "pal", KNOWN_PALETTE, order)
                self.assertEqual(sorted(os.listdir(os.path.join(directory, "out"))),
                                 sorted("pal" + suffix for suffix in OUTPUT_SUFFIXES))

    def test_defaults_read_the_probe_file_and_write_beside_it(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "official_palette_live.bin"), KNOWN_PALETTE)
        status, out, err = run([], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertIn("from official_palette_live.bin", out)
        self.assert_export(directory, "official_palette_live", KNOWN_PALETTE, "bgra")
        self.assertEqual(len(os.listdir(directory)), 1 + len(OUTPUT_SUFFIXES))

    def test_stem_drops_only_the_last_extension_and_the_folder(self):
        directory = self.scratch()
        os.mkdir(os.path.join(directory, "in"))
        write_file(os.path.join(directory, "in", "cam.2024.bin"), KNOWN_PALETTE)
        status, _, err = run(["in/cam.2024.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(directory, "cam.2024", KNOWN_PALETTE, "bgra")

    def test_a_new_export_replaces_an_earlier_one_whole(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "pal.bin"), make_palette(lambda k: (9, 9, 9, 9)))
        self.assertEqual(run(["pal.bin"], directory)[0], 0)
        write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
        status, _, err = run(["--order", "rgba", "pal.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(directory, "pal", KNOWN_PALETTE, "rgba")
        self.assertEqual(len(os.listdir(directory)), 1 + len(OUTPUT_SUFFIXES))


def smooth_palette(k):
    return (k // 2, k, 255 - k, 0)


def with_entries(base, replacements):
    return make_palette(lambda k: replacements.get(k, base(k)))


def banded_palette(k):
    # 16 flat bands with large steps between them.
    band = k // 16
    return ((band * 97) % 256, (band * 53) % 256, (band * 181) % 256, 0)


class SummaryTests(ScratchTestCase):
    def test_fourth_byte(self):
        cases = [
            (lambda k: known_bytes(k, 0), "fourth byte: 0 in every entry"),
            (lambda k: known_bytes(k, 255), "fourth byte: 255 in every entry"),
            (lambda k: known_bytes(k, k % 4), "fourth byte: varies, 0 to 3 (4 distinct values)"),
            # One odd entry deep inside the table still makes it vary.
            (lambda k: known_bytes(k, 7 if k == 200 else 0),
             "fourth byte: varies, 0 to 7 (2 distinct values)"),
        ]
        for entry, expected in cases:
            with self.subTest(expected=expected):
                out = self.export_summary(make_palette(entry))
                self.assertIn(expected + "\n", out)
                self.assertEqual(out.count("fourth byte:"), 1)

    def test_reports_entries_and_order(self):
        out = self.export_summary(KNOWN_PALETTE, ["--order", "rgba"])
        self.assertTrue(out.startswith("read 256 entries from pal.bin, order rgba"), out)

    def test_planted_jumps_are_named(self):
        cases = [
            ({100: (255, 0, 255, 0)}, [100]),
            ({37: (0, 255, 0, 0), 180: (255, 255, 255, 0)}, [37, 180]),
            # Next to the ends, where only one side of the table lies beyond.
            ({1: (200, 200, 200, 0), 254: (0, 0, 0, 0)}, [1, 254]),
        ]
        for planted, expected in cases:
            with self.subTest(planted=sorted(planted)):
                out = self.export_summary(with_entries(smooth_palette, planted))
                named = [int(line.split()[2]) for line in out.splitlines()
                         if line.startswith("jump: entry ")]
                self.assertEqual(named, expected, out)
                self.assertNotIn("jumps: none", out)

    def test_no_jump_in_ordinary_tables(self):
        cases = {
            "smooth": make_palette(smooth_palette),
            "known": KNOWN_PALETTE,
            "flat bands": make_palette(banded_palette),
            # A single in-between entry on a steep edge is no spike.
            "edge with one step between": with_entries(
                lambda k: (0, 0, 0, 0) if k < 128 else (200, 200, 200, 0), {128: (100, 100, 100, 0)}),
            # Rough throughout, so no single entry stands out.
            "noise": make_palette(lambda k: ((k * 73) % 256, (k * 151) % 256, (k * 29) % 256, 0)),
        }
        for name, raw in cases.items():
            with self.subTest(name):
                out = self.export_summary(raw)
                self.assertIn("jumps: none", out)
                self.assertNotIn("jump: entry", out)

    def test_lightness_line(self):
        def gray(value):
            return (value, value, value, 0)

        def ramp_with(replacements):
            return with_entries(lambda k: gray(k), {k: gray(v) for k, v in replacements.items()})

        def falls(palette):
            lightness = lightness_of(colours_of(palette, "bgra"))
            return [0] + [lightness[k - 1] - lightness[k] for k in range(1, 256)]

        def fall(palette, entry):
            return "%.1f" % falls(palette)[entry]

        ramp = make_palette(lambda k: gray(k))
        # A dip at 12, and a stretch 40-45 going down whose end, 46, lies
        # below 45 too.
        dipped = ramp_with({12: 0, 40: 60, 41: 58, 42: 56, 43: 54, 44: 52, 45: 50})
        reversed_ramp = make_palette(lambda k: gray(255 - k))
        steepest = max(range(1, 256), key=falls(reversed_ramp).__getitem__)
        doubled = make_palette(lambda k: gray(k // 2))
        cases = [
            # Black and white: L* 0 and 100 by definition.
            ("rising", ramp, "L* 0.0 at entry 0 to 100.0 at entry 255, rises throughout"),
            ("falling stretch", dipped,
             "L* 0.0 at entry 0 to 100.0 at entry 255, falls at 7 entries: 12, 41-46; "
             "largest fall %s at entry 12" % fall(dipped, 12)),
            ("reversed", reversed_ramp,
             "L* 100.0 at entry 0 to 0.0 at entry 255, falls at 255 entries: 1-255; "
             "largest fall %s at entry %d" % (fall(reversed_ramp, steepest), steepest)),
            # Every other entry repeats the one before; only the first
            # twelve runs are listed.
            ("level", doubled,
             "L* 0.0 at entry 0 to %.1f at entry 255, never falls; level at 128 entries: "
             "1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, ..."
             % lightness_of([(127, 127, 127)])[0]),
            ("one fall", ramp_with({200: 10}),
             "L* 0.0 at entry 0 to 100.0 at entry 255, falls at 1 entry: 200; largest fall "
             "%s at entry 200" % fall(ramp_with({200: 10}), 200)),
            # The sRGB primaries' published L*: red 53.24, blue 32.30 (stored
            # blue first: red is bytes 0 0 255).
            ("primaries", with_entries(lambda k: gray(100), {0: (0, 0, 255, 0), 255: (255, 0, 0, 0)}),
             "L* 53.2 at entry 0 to 32.3 at entry 255, falls at 2 entries: 1, 255; "),
        ]
        for name, raw, expected in cases:
            with self.subTest(name):
                out = self.export_summary(raw)
                lines = [line for line in out.splitlines() if line.startswith("lightness:")]
                self.assertEqual(len(lines), 1, out)
                self.assertTrue(lines[0].startswith("lightness: " + expected), lines[0])
                if not expected.endswith("; "):
                    self.assertEqual(lines[0], "lightness: " + expected)


# The curves plot's layout and colours, as docs/palette-export.md gives them.
CURVES_SIZE = (544, 576)
PLOT_LEFT, PLOT_TOP = 16, 16
STRIP_TOP, STRIP_HEIGHT = 536, 24
CURVE_COLOURS = {"red": (220, 0, 0), "green": (0, 160, 0), "blue": (0, 0, 230),
                 "lightness": (0, 0, 0)}


def level_rows(level):
    """The two rows of the curves plot that a level 0 to 255 fills."""
    top = PLOT_TOP + 2 * (255 - level)
    return [top, top + 1]


class FormatTests(ScratchTestCase):
    """Every format, written by one --format all run in each order, read back
    by an independent reader where there is one, else against its
    definition."""

    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="palette-export-formats-")
        write_file(os.path.join(cls.directory, "pal.bin"), KNOWN_PALETTE)
        cls.outputs = {}
        for order in ORDERS:
            out_dir = os.path.join(cls.directory, order)
            os.mkdir(out_dir)
            status, out, err = run(
                ["--order", order, "--format", "all", "--out-dir", order, "pal.bin"],
                cls.directory)
            assert (status, err) == (0, ""), err
            cls.outputs[order] = out_dir

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.directory)

    def output(self, order, suffix):
        return read_file(os.path.join(self.outputs[order], "pal" + suffix))

    def test_all_writes_every_format_with_todays_five_unchanged(self):
        for order in ORDERS:
            with self.subTest(order=order):
                self.assertEqual(sorted(os.listdir(self.outputs[order])),
                                 sorted("pal" + suffix for suffix in ALL_SUFFIXES))
                self.assert_export(self.outputs[order], "pal", KNOWN_PALETTE, order)

    def test_adobe_colour_table(self):
        for order in ORDERS:
            with self.subTest(order=order):
                colours = colours_of(KNOWN_PALETTE, order)
                self.assertEqual(self.output(order, ".act"),
                                 bytes(level for colour in colours for level in colour))

    def test_jasc_palette(self):
        for order in ORDERS:
            with self.subTest(order=order):
                colours = colours_of(KNOWN_PALETTE, order)
                expected = "JASC-PAL\r\n0100\r\n256\r\n" + "".join(
                    "%d %d %d\r\n" % colour for colour in colours)
                self.assertEqual(self.output(order, ".pal"), expected.encode())

    def test_paraview_preset(self):
        for order in ORDERS:
            with self.subTest(order=order):
                colours = colours_of(KNOWN_PALETTE, order)
                presets = json.loads(self.output(order, ".json"))
                self.assertIsInstance(presets, list)
                self.assertEqual(len(presets), 1)
                preset = presets[0]
                self.assertEqual(sorted(preset), ["ColorSpace", "Name", "RGBPoints"])
                self.assertEqual(preset["Name"], "pal (%s)" % order)
                self.assertEqual(preset["ColorSpace"], "RGB")
                # Exactly k/255 and level/255 as doubles, not merely close.
                expected = [value for k, colour in enumerate(colours)
                            for value in (k / 255,) + tuple(level / 255 for level in colour)]
                self.assertEqual(preset["RGBPoints"], expected)

    def test_cube_lut(self):
        for order in ORDERS:
            with self.subTest(order=order):
                colours = colours_of(KNOWN_PALETTE, order)
                text = self.output(order, ".cube").decode()
                lines = text.split("\n")
                self.assertEqual(lines[:2], ['TITLE "pal (%s)"' % order, "LUT_1D_SIZE 256"])
                self.assertEqual(lines[258:], [""])
                self.assertEqual([tuple(float(v) for v in line.split()) for line in lines[2:258]],
                                 [tuple(level / 255 for level in colour) for colour in colours])
                # OpenColorIO's reader, applied to gray k/255, gives entry k.
                path = os.path.join(self.outputs[order], "pal.cube")
                transform = PyOpenColorIO.FileTransform(
                    src=path, interpolation=PyOpenColorIO.INTERP_LINEAR)
                processor = PyOpenColorIO.Config.CreateRaw().getProcessor(transform)
                pixels = numpy.repeat(numpy.arange(256, dtype=numpy.float32)[:, None] / 255, 3, 1)
                processor.getDefaultCPUProcessor().applyRGB(pixels)
                self.assertEqual([tuple(int(v) for v in row) for row in numpy.rint(pixels * 255)],
                                 colours)

    def test_gimp_gradient(self):
        for order in ORDERS:
            with self.subTest(order=order):
                colours = colours_of(KNOWN_PALETTE, order)
                data = self.output(order, ".ggr")
                lines = data.decode().split("\n")
                self.assertEqual(lines[:3], ["GIMP Gradient", "Name: pal (%s)" % order, "255"])
                self.assertEqual(lines[258:], [""])
                segments = [line.split() for line in lines[3:258]]
                for k, fields in enumerate(segments):
                    self.assertEqual(len(fields), 13, k)
                    left, middle, right = (float(v) for v in fields[:3])
                    self.assertEqual((left, right), (k / 255, (k + 1) / 255), k)
                    self.assertAlmostEqual(middle, (left + right) / 2, places=15)
                    # Linear blending in RGB, opaque at both ends.
                    self.assertEqual(fields[11:], ["0", "0"], k)
                    self.assertEqual((fields[6], fields[10]), ("1", "1"), k)
                # Pillow samples it at k/255 for level k, as GIMP's Gradient Map
                # does.
                with open(os.path.join(self.outputs[order], "pal.ggr"), "rb") as file:
                    sampled, mode = GimpGradientFile.GimpGradientFile(file).getpalette(256)
                self.assertEqual(mode, "RGBA")
                self.assertEqual([tuple(sampled[4 * k:4 * k + 3]) for k in range(256)], colours)
                self.assertEqual(set(sampled[3::4]), {255})

    def test_curves_plot(self):
        for order in ORDERS:
            with self.subTest(order=order):
                colours = colours_of(KNOWN_PALETTE, order)
                with Image.open(os.path.join(self.outputs[order], "pal-curves.png")) as image:
                    self.assertEqual((image.format, image.mode, image.size), ("PNG", "RGB", CURVES_SIZE))
                    rows = [[tuple(pixel) for pixel in row] for row in numpy.asarray(image).tolist()]
                lightness = lightness_of(colours)
                curves = {"red": [c[0] for c in colours], "green": [c[1] for c in colours],
                          "blue": [c[2] for c in colours],
                          "lightness": [round(value * 255 / 100) for value in lightness]}
                # Entries where the four curves lie apart, so none hides another.
                checked = [k for k in range(0, 256, 3)
                           if min(abs(curves[a][k] - curves[b][k]) for a in curves for b in curves
                                  if a < b) > 3]
                self.assertGreater(len(checked), 20)
                for k in checked:
                    column = [rows[y][PLOT_LEFT + 2 * k] for y in range(PLOT_TOP, PLOT_TOP + 512)]
                    for name, levels in curves.items():
                        found = [PLOT_TOP + y for y, pixel in enumerate(column)
                                 if pixel == CURVE_COLOURS[name]]
                        if name == "lightness":
                            # Two rows, within a level of scikit-image's L*.
                            self.assertEqual(len(found), 2, (k, name))
                            self.assertLessEqual(abs(found[0] - level_rows(levels[k])[0]), 2, (k, name))
                        else:
                            self.assertEqual(found, level_rows(levels[k]), (k, name))
                # The palette itself in a strip under the plot, two columns an entry.
                for y in (STRIP_TOP, STRIP_TOP + STRIP_HEIGHT - 1):
                    self.assertEqual(rows[y][PLOT_LEFT:PLOT_LEFT + 512:2], colours)
                    self.assertEqual(rows[y][PLOT_LEFT + 1:PLOT_LEFT + 512:2], colours)

    def test_names_carry_the_stem_and_the_order(self):
        stems = ["Paleta ñ 温度"]
        if not harness.LAUNCHER:
            # Not a file name Windows allows.
            stems.append('say "hi" \\ back')
        for stem in stems:
            with self.subTest(stem=stem):
                directory = self.scratch()
                write_file(os.path.join(directory, stem + ".bin"), KNOWN_PALETTE)
                status, _, err = run(["--order", "rgba", "--format", "gpl,json,cube,ggr",
                                      stem + ".bin"], directory)
                self.assertEqual((status, err), (0, ""))
                name = stem + " (rgba)"
                text = {suffix: read_file(os.path.join(directory, stem + suffix)).decode()
                        for suffix in (".gpl", ".json", ".cube", ".ggr")}
                self.assertEqual(json.loads(text[".json"])[0]["Name"], name)
                self.assertIn("\nName: %s\n" % name, text[".gpl"])
                self.assertIn("\nName: %s\n" % name, text[".ggr"])
                self.assertEqual(text[".cube"].split("\n")[0],
                                 'TITLE "%s"' % name.replace('"', "'"))


class SelectionTests(ScratchTestCase):
    def test_format_lists(self):
        cases = [
            ("act", [".act"]),
            # Written, and told, in the fixed order whatever the list's.
            ("cube,png", [".png", ".cube"]),
            ("ggr,ggr", [".ggr"]),
            ("curves", ["-curves.png"]),
            ("bgr,lut,gpl,csv,png", list(OUTPUT_SUFFIXES)),
            ("json,all", list(ALL_SUFFIXES)),
        ]
        for formats, suffixes in cases:
            with self.subTest(formats=formats):
                directory = self.scratch()
                write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
                status, out, err = run(["--format", formats, "pal.bin"], directory)
                self.assertEqual((status, err), (0, ""))
                self.assertEqual([line for line in out.splitlines() if line.startswith("wrote")],
                                 ["wrote pal" + suffix for suffix in suffixes])
                self.assertIn("\nlightness: ", out)
                self.assertEqual(sorted(os.listdir(directory)),
                                 sorted(["pal.bin"] + ["pal" + suffix for suffix in suffixes]))

    def test_last_format_option_counts(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
        status, _, err = run(["--format", "act", "--format=pal", "pal.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(sorted(os.listdir(directory)), ["pal.bin", "pal.pal"])


class BadInputTests(ScratchTestCase):
    @classmethod
    def setUpClass(cls):
        # An earlier export that every refused run must leave as it was.
        cls.template = tempfile.mkdtemp(prefix="palette-export-template-")
        os.mkdir(os.path.join(cls.template, "out"))
        os.mkdir(os.path.join(cls.template, "folder.bin"))
        write_file(os.path.join(cls.template, "pal.bin"), KNOWN_PALETTE)
        for name, size in (("empty.bin", 0), ("short.bin", 1023), ("long.bin", 1025)):
            write_file(os.path.join(cls.template, name), KNOWN_PALETTE[:size].ljust(size, b"\1"))
        # A palette whose name makes one output land on the palette itself.
        write_file(os.path.join(cls.template, "pal.csv"), KNOWN_PALETTE)
        write_file(os.path.join(cls.template, "in.act"), KNOWN_PALETTE)
        status, _, _ = run(["--out-dir", "out", "pal.bin"], cls.template)
        assert status == 0, "could not make the earlier export"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.template)

    def test_refused_with_status_2_and_one_line(self):
        cases = [
            ["--out-dir", "out", "missing.bin"],
            ["--out-dir", "out", "folder.bin"],
            ["--out-dir", "out", "empty.bin"],
            ["--out-dir", "out", "short.bin"],
            ["--out-dir", "out", "long.bin"],
            ["--out-dir", "out", "--colour", "pal.bin"],
            ["--out-dir", "out", "--order", "argb", "pal.bin"],
            ["--out-dir", "out", "--order=", "pal.bin"],
            ["--out-dir", "out", "pal.bin", "--order"],
            ["--out-dir", "missing", "pal.bin"],
            ["--out-dir", "pal.bin", "pal.bin"],
            ["--out-dir", "out", "pal.bin", "pal.bin"],
            ["pal.csv"],
            ["--format", "act", "in.act"],
            ["--out-dir", "out", "--format", "xyz", "pal.bin"],
            ["--out-dir", "out", "--format", "png,xyz", "pal.bin"],
            ["--out-dir", "out", "--format", "png,,csv", "pal.bin"],
            ["--out-dir", "out", "--format", "png,", "pal.bin"],
            ["--out-dir", "out", "--format", "", "pal.bin"],
            ["--out-dir", "out", "--format", "PNG", "pal.bin"],
            ["--out-dir", "out", "--format", "png, csv", "pal.bin"],
            ["--out-dir", "out", "pal.bin", "--format"],
        ]
        for args in cases:
            with self.subTest(args=" ".join(args)):
                directory = os.path.join(self.scratch(), "case")
                shutil.copytree(self.template, directory)
                before = directory_snapshot(directory)
                status, out, err = run(args, directory)
                self.assertEqual(status, 2, err)
                self.assertEqual(out, "")
                self.assertRegex(err, r"\Apalette-export: [^\n]+\n\Z")
                self.assertEqual(directory_snapshot(directory), before)

    def test_messages_name_the_fault(self):
        directory = os.path.join(self.scratch(), "case")
        shutil.copytree(self.template, directory)
        cases = [
            (["missing.bin"], "missing.bin"),
            (["short.bin"], "is 1023 bytes, not 1024 bytes"),
            (["long.bin"], "longer than 1024 bytes"),
            (["--order", "argb"], "argb"),
            (["--colour"], "--colour"),
            (["--out-dir", "missing"], "'missing' does not exist"),
            (["pal.csv"], "pal.csv"),
            (["--format", "png,xyz"], "unknown format 'xyz'"),
        ]
        for args, expected in cases:
            with self.subTest(args=" ".join(args)):
                self.assertIn(expected, run(args, directory)[2])


class CommandLineTests(ScratchTestCase):
    def test_help_and_version_write_nothing(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "official_palette_live.bin"), KNOWN_PALETTE)
        status, out, err = run(["--help"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith("usage: palette-export [--order bgra|rgba]"), out)
        status, out, err = run(["--version"], directory)
        self.assertEqual((status, out, err), (0, "palette-export %s\n" % harness.VERSION, ""))
        self.assertEqual(os.listdir(directory), ["official_palette_live.bin"])

    def test_double_dash_ends_options(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "-odd.bin"), KNOWN_PALETTE)
        status, _, err = run(["--", "-odd.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(directory, "-odd", KNOWN_PALETTE, "bgra")

    def test_failed_write_leaves_whole_files_and_no_temporary(self):
        directory = self.scratch()
        earlier = make_palette(lambda k: (9, 9, 9, 9))
        write_file(os.path.join(directory, "pal.bin"), earlier)
        self.assertEqual(run(["pal.bin"], directory)[0], 0)
        earlier_files = directory_snapshot(directory)
        # A folder where the LUT goes makes its move into place fail.
        os.remove(os.path.join(directory, "pal.lut"))
        os.mkdir(os.path.join(directory, "pal.lut"))
        write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
        status, out, err = run(["pal.bin"], directory)
        self.assertEqual(status, 1)
        self.assertRegex(err, r"\Apalette-export: [^\n]*pal\.lut[^\n]*\n\Z")
        self.assertEqual(sorted(os.listdir(directory)),
                         sorted(["pal.bin"] + ["pal" + suffix for suffix in OUTPUT_SUFFIXES]))
        new_files = expected_files("pal", KNOWN_PALETTE, "bgra")
        for name in ("pal.csv", "pal.gpl", "pal-bgr.bin"):
            self.assertIn(read_file(os.path.join(directory, name)),
                          (earlier_files[name], new_files[name]), name)


# Names Windows allows that the ANSI code pages don't all hold: a Latin
# accent, Cyrillic, CJK, an emoji beyond the 16-bit plane, spaces, and an
# accent as a combining mark, which must not be normalised away.
FILE_NAMES = ["José", "Привет", "日本語の名前", "palette 😀", "two  spaces", "Cafe\u0301"]


class FileNameTests(ScratchTestCase):
    def separator(self):
        # How the program joins --out-dir and a file name in its messages.
        return "\\" if harness.EXE.lower().endswith(".exe") else "/"

    def test_any_name_as_palette_file_and_output_directory(self):
        for name in FILE_NAMES:
            with self.subTest(name=name):
                directory = self.scratch()
                os.mkdir(os.path.join(directory, name))
                write_file(os.path.join(directory, name + ".bin"), KNOWN_PALETTE)
                status, out, err = run(["--out-dir", name, name + ".bin"], directory)
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(sorted(os.listdir(os.path.join(directory, name))),
                                 sorted(name + suffix for suffix in OUTPUT_SUFFIXES))
                self.assert_export(os.path.join(directory, name), name, KNOWN_PALETTE, "bgra")
                self.assertIn("read 256 entries from %s.bin," % name, out)
                wrote = [line for line in out.splitlines() if line.startswith("wrote ")]
                self.assertEqual(wrote, ["wrote %s%s%s%s" % (name, self.separator(), name, suffix)
                                         for suffix in OUTPUT_SUFFIXES])

    def test_messages_name_missing_files_as_given(self):
        for name in FILE_NAMES:
            with self.subTest(name=name):
                directory = self.scratch()
                write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
                status, out, err = run([name + ".bin"], directory)
                self.assertEqual((status, out), (2, ""))
                self.assertRegex(err, r"\Apalette-export: cannot open '%s\.bin': [^\n]+\n\Z"
                                 % re.escape(name))
                status, out, err = run(["--out-dir", name, "pal.bin"], directory)
                self.assertEqual((status, out, err), (
                    2, "", "palette-export: output directory '%s' does not exist\n" % name))
                self.assertEqual(os.listdir(directory), ["pal.bin"])

    def test_paths_longer_than_260_characters(self):
        directory = self.scratch()
        nested = os.path.join(*["folder %02d of a deep tree" % depth for depth in range(12)])
        os.makedirs(os.path.join(directory, nested))
        self.assertGreater(len(os.path.join(directory, nested, "pal-bgr.bin")), 300)
        write_file(os.path.join(directory, nested, "pal.bin"), KNOWN_PALETTE)
        status, _, err = run(["--out-dir", nested, os.path.join(nested, "pal.bin")], directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(os.path.join(directory, nested), "pal", KNOWN_PALETTE, "bgra")


if __name__ == "__main__":
    harness.main()
