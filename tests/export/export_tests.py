#!/usr/bin/env python3
"""Runs the palette-export executable as a process and checks its files,
its summary and its refusals.

    export_tests.py --exe PATH [--launcher ARG]... --version V [TestClass ...]

--launcher (repeatable) is put before the executable, e.g. --launcher wine to
run palette-export.exe under Wine. The program always runs in a scratch
directory, and is given relative paths only, so the same paths work for a
native and a Windows build.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

EXE = ""
LAUNCHER = []
VERSION = ""

OUTPUT_SUFFIXES = (".png", ".csv", ".gpl", ".lut", "-bgr.bin")


def run_export(args, cwd):
    """Returns (exit status, stdout, stderr); console line ends normalised,
    since a Windows console program turns "\\n" into "\\r\\n".

    Output goes to files, not pipes: a wineserver that the launcher starts
    inherits them and outlives the run, and would hold a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        completed = subprocess.run(LAUNCHER + [EXE] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, timeout=120)

        def text(file):
            file.seek(0)
            return file.read().decode("utf-8", "replace").replace("\r\n", "\n")

        return completed.returncode, text(out), text(err)


def make_palette(entry):
    """1,024 bytes from entry(k) -> four bytes in file order."""
    return bytes(byte for k in range(256) for byte in entry(k))


def known_bytes(k, fourth=0):
    # Three different curves, so that swapping any two channels shows.
    return (k, 255 - k, (k * k) >> 8, fourth)


KNOWN_PALETTE = make_palette(known_bytes)
# The red, green and blue that KNOWN_PALETTE stands for in each order.
KNOWN_COLOURS = {
    "bgra": [((k * k) >> 8, 255 - k, k) for k in range(256)],
    "rgba": [(k, 255 - k, (k * k) >> 8) for k in range(256)],
}


def expected_files(stem, raw, colours):
    """Every output's exact bytes, except the PNG, whose pixels are checked
    after decoding (its compressed stream is the encoder's business)."""
    csv = "index,byte0,byte1,byte2,byte3,red,green,blue,hex\n"
    gpl = "GIMP Palette\nName: %s\nColumns: 16\n#\n" % stem
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


def directory_snapshot(root):
    """Every file below root with its bytes, and every directory."""
    snapshot = {}
    for folder, directories, files in os.walk(root):
        for name in directories:
            snapshot[os.path.relpath(os.path.join(folder, name), root)] = "<dir>"
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as file:
                snapshot[os.path.relpath(path, root)] = file.read()
    return snapshot


def write_file(path, data):
    with open(path, "wb") as file:
        file.write(data)


def read_file(path):
    with open(path, "rb") as file:
        return file.read()


class ScratchTestCase(unittest.TestCase):
    def scratch(self):
        directory = tempfile.mkdtemp(prefix="palette-export-")
        self.addCleanup(shutil.rmtree, directory)
        return directory

    def assert_export(self, out_dir, stem, raw, colours):
        for name, expected in expected_files(stem, raw, colours).items():
            self.assertEqual(read_file(os.path.join(out_dir, name)), expected, name)
        width, height, colour_type, rows = decode_png(read_file(os.path.join(out_dir, stem + ".png")))
        self.assertEqual((width, height, colour_type), (256, 32, 2))
        for y, row in enumerate(rows):
            self.assertEqual(row, colours, "swatch row %d" % y)

    def export_summary(self, raw, extra_args=()):
        directory = self.scratch()
        write_file(os.path.join(directory, "pal.bin"), raw)
        status, out, err = run_export(list(extra_args) + ["pal.bin"], directory)
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
                status, out, err = run_export(args + ["--out-dir", "out", "pal.bin"], directory)
                self.assertEqual((status, err), (0, ""))
                self.assertIn("order %s" % order, out)
                self.assert_export(os.path.join(directory, "out"), "pal", KNOWN_PALETTE,
                                   KNOWN_COLOURS[order])
                self.assertEqual(sorted(os.listdir(os.path.join(directory, "out"))),
                                 sorted("pal" + suffix for suffix in OUTPUT_SUFFIXES))

    def test_defaults_read_the_probe_file_and_write_beside_it(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "official_palette_live.bin"), KNOWN_PALETTE)
        status, out, err = run_export([], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertIn("from official_palette_live.bin", out)
        self.assert_export(directory, "official_palette_live", KNOWN_PALETTE,
                           KNOWN_COLOURS["bgra"])
        self.assertEqual(len(os.listdir(directory)), 1 + len(OUTPUT_SUFFIXES))

    def test_stem_drops_only_the_last_extension_and_the_folder(self):
        directory = self.scratch()
        os.mkdir(os.path.join(directory, "in"))
        write_file(os.path.join(directory, "in", "cam.2024.bin"), KNOWN_PALETTE)
        status, _, err = run_export(["in/cam.2024.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(directory, "cam.2024", KNOWN_PALETTE, KNOWN_COLOURS["bgra"])

    def test_a_new_export_replaces_an_earlier_one_whole(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "pal.bin"), make_palette(lambda k: (9, 9, 9, 9)))
        self.assertEqual(run_export(["pal.bin"], directory)[0], 0)
        write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
        status, _, err = run_export(["--order", "rgba", "pal.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(directory, "pal", KNOWN_PALETTE, KNOWN_COLOURS["rgba"])
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
        status, _, _ = run_export(["--out-dir", "out", "pal.bin"], cls.template)
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
        ]
        for args in cases:
            with self.subTest(args=" ".join(args)):
                directory = os.path.join(self.scratch(), "case")
                shutil.copytree(self.template, directory)
                before = directory_snapshot(directory)
                status, out, err = run_export(args, directory)
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
        ]
        for args, expected in cases:
            with self.subTest(args=" ".join(args)):
                self.assertIn(expected, run_export(args, directory)[2])


class CommandLineTests(ScratchTestCase):
    def test_help_and_version_write_nothing(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "official_palette_live.bin"), KNOWN_PALETTE)
        status, out, err = run_export(["--help"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith("usage: palette-export [--order bgra|rgba]"), out)
        status, out, err = run_export(["--version"], directory)
        self.assertEqual((status, out, err), (0, "palette-export %s\n" % VERSION, ""))
        self.assertEqual(os.listdir(directory), ["official_palette_live.bin"])

    def test_double_dash_ends_options(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "-odd.bin"), KNOWN_PALETTE)
        status, _, err = run_export(["--", "-odd.bin"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(directory, "-odd", KNOWN_PALETTE, KNOWN_COLOURS["bgra"])

    def test_failed_write_leaves_whole_files_and_no_temporary(self):
        directory = self.scratch()
        earlier = make_palette(lambda k: (9, 9, 9, 9))
        write_file(os.path.join(directory, "pal.bin"), earlier)
        self.assertEqual(run_export(["pal.bin"], directory)[0], 0)
        earlier_files = directory_snapshot(directory)
        # A folder where the LUT goes makes its move into place fail.
        os.remove(os.path.join(directory, "pal.lut"))
        os.mkdir(os.path.join(directory, "pal.lut"))
        write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
        status, out, err = run_export(["pal.bin"], directory)
        self.assertEqual(status, 1)
        self.assertRegex(err, r"\Apalette-export: [^\n]*pal\.lut[^\n]*\n\Z")
        self.assertEqual(sorted(os.listdir(directory)),
                         sorted(["pal.bin"] + ["pal" + suffix for suffix in OUTPUT_SUFFIXES]))
        new_files = expected_files("pal", KNOWN_PALETTE, KNOWN_COLOURS["bgra"])
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
        return "\\" if EXE.lower().endswith(".exe") else "/"

    def test_any_name_as_palette_file_and_output_directory(self):
        for name in FILE_NAMES:
            with self.subTest(name=name):
                directory = self.scratch()
                os.mkdir(os.path.join(directory, name))
                write_file(os.path.join(directory, name + ".bin"), KNOWN_PALETTE)
                status, out, err = run_export(["--out-dir", name, name + ".bin"], directory)
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(sorted(os.listdir(os.path.join(directory, name))),
                                 sorted(name + suffix for suffix in OUTPUT_SUFFIXES))
                self.assert_export(os.path.join(directory, name), name, KNOWN_PALETTE,
                                   KNOWN_COLOURS["bgra"])
                self.assertIn("read 256 entries from %s.bin," % name, out)
                wrote = [line for line in out.splitlines() if line.startswith("wrote ")]
                self.assertEqual(wrote, ["wrote %s%s%s%s" % (name, self.separator(), name, suffix)
                                         for suffix in OUTPUT_SUFFIXES])

    def test_messages_name_missing_files_as_given(self):
        for name in FILE_NAMES:
            with self.subTest(name=name):
                directory = self.scratch()
                write_file(os.path.join(directory, "pal.bin"), KNOWN_PALETTE)
                status, out, err = run_export([name + ".bin"], directory)
                self.assertEqual((status, out), (2, ""))
                self.assertRegex(err, r"\Apalette-export: cannot open '%s\.bin': [^\n]+\n\Z"
                                 % re.escape(name))
                status, out, err = run_export(["--out-dir", name, "pal.bin"], directory)
                self.assertEqual((status, out, err), (
                    2, "", "palette-export: output directory '%s' does not exist\n" % name))
                self.assertEqual(os.listdir(directory), ["pal.bin"])

    def test_paths_longer_than_260_characters(self):
        directory = self.scratch()
        nested = os.path.join(*["folder %02d of a deep tree" % depth for depth in range(12)])
        os.makedirs(os.path.join(directory, nested))
        self.assertGreater(len(os.path.join(directory, nested, "pal-bgr.bin")), 300)
        write_file(os.path.join(directory, nested, "pal.bin"), KNOWN_PALETTE)
        status, _, err = run_export(["--out-dir", nested, os.path.join(nested, "pal.bin")],
                                    directory)
        self.assertEqual((status, err), (0, ""))
        self.assert_export(os.path.join(directory, nested), "pal", KNOWN_PALETTE,
                           KNOWN_COLOURS["bgra"])


def main():
    global EXE, LAUNCHER, VERSION
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--launcher", action="append", default=[])
    parser.add_argument("--version", required=True)
    options, rest = parser.parse_known_args()
    EXE = os.path.abspath(options.exe)
    LAUNCHER = options.launcher
    VERSION = options.version
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
