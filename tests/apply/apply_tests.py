#!/usr/bin/python3
"""Runs the palette-apply executable as a process and checks its pictures
against numpy's own computation of each range rule (decoding them with
OpenCV), its 8-bit path against OpenCV's applyColorMap, its refusals and
its memory use.

    apply_tests.py --exe PATH [--launcher ARG]... --version V [TestClass ...]

--launcher (repeatable) is put before the executable, e.g. --launcher wine.
The program runs in a scratch directory with relative paths only.
"""
import math
import os
import shutil
import struct
import sys
import tempfile
import zlib

import cv2
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import toolkit_harness as harness  # noqa: E402
from toolkit_harness import directory_snapshot, run, write_file  # noqa: E402

GNU_TIME = "/usr/bin/time"


# Entry k: blue k, green 255 - k, red k*k/256, in the file's bgra order, so
# an output pixel's blue names its entry.
PALETTE = bytes(b for k in range(256) for b in (k, 255 - k, (k * k) >> 8, 0))
# OpenCV's colour table for it: 256 x 1, blue, green, red.
BGR_TABLE = np.frombuffer(PALETTE, np.uint8).reshape(256, 1, 4)[:, :, :3].copy()


def write_pgm(path, frame, largest):
    """Binary PGM with a comment in its header; samples big-endian above 255."""
    height, width = frame.shape
    samples = frame.astype(">u2" if largest > 255 else "u1").tobytes()
    write_file(path, b"P5\n# made by the tests\n%d %d\n%d\n" % (width, height, largest) + samples)


def write_png(path, width, height, depth, colour_type, rows):
    """A PNG made by hand, for the kinds OpenCV can't write (1-bit, palette,
    gray with alpha); rows are the packed bytes of each row."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body))
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    body = chunk(b"IHDR", header)
    if colour_type == 3:
        body += chunk(b"PLTE", bytes(range(6)))
    body += chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows)))
    write_file(path, b"\x89PNG\r\n\x1a\n" + body + chunk(b"IEND", b""))


def frame16(seed, width=40, height=30):
    """Mostly 1,000 to 5,000, with a few far outliers, so clipping matters."""
    rng = np.random.default_rng(seed)
    frame = rng.integers(1000, 5001, (height, width)).astype(np.uint16)
    frame[0, :3] = (0, 7, 65535)
    frame[-1, -4:] = 30000
    return frame


def frame8():
    values = np.arange(40 * 30) % 256
    return np.random.default_rng(3).permutation(values).reshape(30, 40).astype(np.uint8)


# The range rules, computed independently with numpy as docs/palette-apply.md
# states them: each returns (entry of every pixel, low, high).
def linear(frame, low, high):
    values = frame.astype(np.float64)
    if low == high:
        return np.where(values > high, 255, 0).astype(np.uint8)
    entries = np.floor(255.0 * (values - low) / (high - low) + 0.5)
    return np.clip(entries, 0, 255).astype(np.uint8)


def rule_minmax(frame):
    low, high = int(frame.min()), int(frame.max())
    return linear(frame, low, high), low, high


def rule_percentile(percent):
    def rule(frame):
        ordered = np.sort(frame, axis=None)
        count = ordered.size
        clipped = math.floor(count * percent / 200)
        low, high = int(ordered[clipped]), int(ordered[count - 1 - clipped])
        return linear(frame, low, high), low, high
    return rule


def rule_fixed(low, high):
    return lambda frame: (linear(frame, low, high), low, high)


def rule_equalised(ceiling=None):
    def rule(frame):
        counts = np.bincount(frame.ravel(), minlength=65536).astype(np.int64)
        if ceiling is not None:
            counts = np.minimum(counts, ceiling)
        cdf = np.cumsum(counts)
        low, high = int(frame.min()), int(frame.max())
        span = cdf[-1] - cdf[low]
        if span == 0:
            return np.zeros(frame.shape, np.uint8), low, high
        entries = np.floor(255.0 * (cdf[frame] - cdf[low]) / span + 0.5)
        return entries.astype(np.uint8), low, high
    return rule


def rule_direct(frame):
    return frame.astype(np.uint8), 0, 255


def decode_output(path):
    """The output as (height, width, 3) blue, green, red, checked to be an
    8-bit RGB PNG."""
    with open(path, "rb") as file:
        header = file.read(33)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    depth, colour_type = header[24], header[25]
    assert (depth, colour_type) == (8, 2), "%s: depth %d, colour type %d" % (
        path, depth, colour_type)
    picture = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    assert picture is not None and picture.ndim == 3 and picture.shape[2] == 3, path
    return picture


class ScratchTestCase(harness.ScratchTestCase):
    scratch_prefix = "palette-apply-"

    def scratch(self):
        """A scratch directory with the default palette and an empty out/."""
        directory = super().scratch()
        write_file(os.path.join(directory, "official_palette_live.bin"), PALETTE)
        os.mkdir(os.path.join(directory, "out"))
        return directory


FLAT = np.full((30, 40), 1234, np.uint16)
RAW_FRAMES = [frame16(10 + n) for n in range(3)]
TWELVE = [frame16(20 + n, 5, 4) for n in range(12)]


def make_inputs(directory):
    """Every kind of input; returns name -> list of its frames."""
    cv2.imwrite(os.path.join(directory, "png16.png"), frame16(1))
    cv2.imwrite(os.path.join(directory, "png8.png"), frame8())
    cv2.imwrite(os.path.join(directory, "flat.png"), FLAT)
    write_pgm(os.path.join(directory, "sixteen.pgm"), frame16(2), 65535)
    write_pgm(os.path.join(directory, "eight.pgm"), frame8(), 255)
    write_file(os.path.join(directory, "clip.raw"),
               b"".join(frame.astype("<u2").tobytes() for frame in RAW_FRAMES))
    write_file(os.path.join(directory, "twelve.bin"),
               b"".join(frame.astype("<u2").tobytes() for frame in TWELVE))
    return {"png16.png": [frame16(1)], "png8.png": [frame8()], "flat.png": [FLAT],
            "sixteen.pgm": [frame16(2)], "eight.pgm": [frame8()], "clip.raw": RAW_FRAMES,
            "twelve.bin": TWELVE}


class RangeRuleTests(ScratchTestCase):
    """Each input kind under each rule, against numpy's computation."""

    def check_run(self, directory, args, frames, rule, name, outputs, order="bgra"):
        status, out, err = run(["--out-dir", "out"] + args, directory)
        self.assertEqual((status, err), (0, ""), out)
        # Outputs are named with the platform's separator.
        lines = out.replace("\\", "/").splitlines()
        self.assertEqual(len(lines), len(outputs), out)
        colours = np.frombuffer(PALETTE, np.uint8).reshape(256, 4)[:, :3]
        if order == "rgba":
            colours = colours[:, ::-1]
        for frame, output, line in zip(frames, outputs, lines):
            entries, low, high = rule(frame)
            self.assertEqual(line, "wrote out/%s (%s %d:%d)" % (output, name, low, high))
            picture = decode_output(os.path.join(directory, "out", output))
            self.assertEqual(picture.shape[:2], frame.shape)
            expected = colours[entries]
            mismatched = np.argwhere((picture != expected).any(axis=2))
            self.assertEqual(len(mismatched), 0, "%s: first wrong pixel %s, value %d"
                             % (output, mismatched[:1].tolist(),
                                frame[tuple(mismatched[0])] if len(mismatched) else 0))

    def test_every_input_kind_under_every_rule(self):
        sixteen_bit = [
            ([], "minmax", rule_minmax),
            (["--range", "minmax"], "minmax", rule_minmax),
            (["--range", "percentile"], "percentile=0.35", rule_percentile(0.35)),
            (["--range", "percentile=2.5"], "percentile=2.5", rule_percentile(2.5)),
            (["--range", "percentile=0"], "percentile=0", rule_percentile(0)),
            (["--range=fixed=1500:4000"], "fixed", rule_fixed(1500, 4000)),
            (["--range", "histeq"], "histeq", rule_equalised()),
            (["--range", "plateau=2"], "plateau=2", rule_equalised(2)),
        ]
        eight_bit = [
            ([], "direct", rule_direct),
            (["--range", "minmax"], "minmax", rule_minmax),
            (["--range", "fixed=10:200"], "fixed", rule_fixed(10, 200)),
            (["--range", "histeq"], "histeq", rule_equalised()),
            (["--range", "percentile=10"], "percentile=10", rule_percentile(10)),
        ]
        directory = self.scratch()
        inputs = make_inputs(directory)
        cases = []
        for name in ("png16.png", "sixteen.pgm", "clip.raw", "twelve.bin", "flat.png"):
            cases += [(name, rule) for rule in sixteen_bit]
        for name in ("png8.png", "eight.pgm"):
            cases += [(name, rule) for rule in eight_bit]
        for name, (args, rule_name, rule) in cases:
            with self.subTest(input=name, args=args):
                shutil.rmtree(os.path.join(directory, "out"))
                os.mkdir(os.path.join(directory, "out"))
                frames = inputs[name]
                stem = name.rsplit(".", 1)[0]
                if len(frames) == 1:
                    outputs = [stem + ".png"]
                else:
                    width = len(str(len(frames)))
                    outputs = ["%s-%0*d.png" % (stem, width, n + 1) for n in range(len(frames))]
                size = ["--size", "%dx%d" % frames[0].shape[::-1]] if name.endswith(
                    (".raw", ".bin")) else []
                self.check_run(directory, args + size + [name], frames, rule, rule_name, outputs)
                self.assertEqual(sorted(os.listdir(os.path.join(directory, "out"))), outputs)

    def test_several_files_in_one_run_and_the_other_byte_order(self):
        directory = self.scratch()
        inputs = make_inputs(directory)
        frames = inputs["png16.png"] + inputs["sixteen.pgm"] + inputs["flat.png"]
        outputs = ["png16.png", "sixteen.png", "flat.png"]
        self.check_run(directory, ["--order", "rgba", "png16.png", "sixteen.pgm", "flat.png"],
                       frames, rule_minmax, "minmax", outputs, order="rgba")

    def test_palette_option_and_earlier_outputs_replaced(self):
        directory = self.scratch()
        make_inputs(directory)
        reversed_palette = b"".join(PALETTE[4 * k:4 * k + 4] for k in reversed(range(256)))
        os.mkdir(os.path.join(directory, "pals"))
        write_file(os.path.join(directory, "pals", "other.bin"), reversed_palette)
        write_file(os.path.join(directory, "out", "png8.png"), b"an earlier output")
        status, _, err = run(["--palette", "pals/other.bin", "--out-dir", "out", "png8.png"],
                             directory)
        self.assertEqual((status, err), (0, ""))
        picture = decode_output(os.path.join(directory, "out", "png8.png"))
        # Entry v of the reversed palette is entry 255 - v of ours.
        self.assertTrue((picture[:, :, 0] == 255 - frame8()).all())


class OpenCvTests(ScratchTestCase):
    def test_eight_bit_frames_match_apply_color_map(self):
        directory = self.scratch()
        make_inputs(directory)
        expected = cv2.applyColorMap(frame8(), BGR_TABLE)
        for name in ("png8.png", "eight.pgm"):
            with self.subTest(name):
                status, _, err = run(["--out-dir", "out", name], directory)
                self.assertEqual((status, err), (0, ""))
                output = os.path.join(directory, "out", name.rsplit(".", 1)[0] + ".png")
                self.assertTrue(np.array_equal(decode_output(output), expected))


class BadInputTests(ScratchTestCase):
    @classmethod
    def setUpClass(cls):
        cls.template = tempfile.mkdtemp(prefix="palette-apply-template-")
        root = cls.template
        write_file(os.path.join(root, "official_palette_live.bin"), PALETTE)
        write_file(os.path.join(root, "short.bin.pal"), PALETTE[:1000])
        os.mkdir(os.path.join(root, "out"))
        make_inputs(root)
        one_row = [b"\xaa" * 2] * 4
        write_png(os.path.join(root, "one-bit.png"), 16, 4, 1, 0, one_row)
        write_png(os.path.join(root, "two-bit.png"), 8, 4, 2, 0, one_row)
        write_png(os.path.join(root, "four-bit.png"), 4, 4, 4, 0, one_row)
        write_png(os.path.join(root, "indexed.png"), 16, 4, 8, 3, [bytes(16)] * 4)
        write_png(os.path.join(root, "gray-alpha.png"), 4, 4, 8, 4, [bytes(8)] * 4)
        cv2.imwrite(os.path.join(root, "colour.png"), np.zeros((4, 4, 3), np.uint8))
        cv2.imwrite(os.path.join(root, "rgba.png"), np.zeros((4, 4, 4), np.uint8))
        write_file(os.path.join(root, "ascii.pgm"), b"P2\n2 1\n255\n0 255\n")
        write_file(os.path.join(root, "colour.ppm"), b"P6\n1 1\n255\n\0\0\0")
        write_file(os.path.join(root, "short.pgm"), b"P5\n4 4\n255\n" + bytes(15))
        write_file(os.path.join(root, "long.pgm"), b"P5\n4 4\n255\n" + bytes(17))
        write_file(os.path.join(root, "no-size.pgm"), b"P5\n4\n")
        with open(os.path.join(root, "png8.png"), "rb") as whole:
            write_file(os.path.join(root, "cut.png"), whole.read()[:20])
        write_file(os.path.join(root, "empty.raw"), b"")
        write_file(os.path.join(root, "notes.txt"), b"not a picture\n")
        os.mkdir(os.path.join(root, "folder.png"))
        # Two inputs that would give the same output name.
        os.mkdir(os.path.join(root, "a"))
        os.mkdir(os.path.join(root, "b"))
        shutil.copy(os.path.join(root, "png8.png"), os.path.join(root, "a", "same.png"))
        shutil.copy(os.path.join(root, "eight.pgm"), os.path.join(root, "b", "same.pgm"))
        shutil.copy(os.path.join(root, "eight.pgm"), os.path.join(root, "b", "SAME.pgm"))
        # A palette where an output would go.
        write_file(os.path.join(root, "out", "png16.png"), PALETTE)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.template)

    def test_refused_with_status_2_one_line_and_nothing_written(self):
        cases = [
            (["--size", "40x30", "empty.raw"], "empty.raw"),
            (["--size", "41x30", "clip.raw"], "not a whole number"),
            (["--size", "40x31", "clip.raw"], "not a whole number"),
            (["clip.raw"], "--size"),
            (["--size", "40x30", "png16.png"], "raw frames only"),
            (["--size", "40x30", "clip.raw", "eight.pgm"], "raw frames only"),
            (["--size", "40", "clip.raw"], "--size"),
            (["--size", "0x30", "clip.raw"], "--size"),
            (["--size", "65536x1", "clip.raw"], "--size"),
            (["one-bit.png"], "1-bit"),
            (["two-bit.png"], "2-bit"),
            (["four-bit.png"], "4-bit"),
            (["colour.png"], "colour PNG"),
            (["rgba.png"], "colour PNG"),
            (["indexed.png"], "palette"),
            (["gray-alpha.png"], "alpha"),
            (["ascii.pgm"], "P2"),
            (["colour.ppm"], "P6"),
            (["short.pgm"], "short.pgm"),
            (["long.pgm"], "long.pgm"),
            (["no-size.pgm"], "no-size.pgm"),
            (["cut.png"], "cut.png"),
            (["notes.txt"], "neither a PNG nor a PGM"),
            (["folder.png"], "folder.png"),
            (["missing.png"], "missing.png"),
            (["--range", "median", "png16.png"], "unknown --range 'median'"),
            (["--range", "minmax=3", "png16.png"], "minmax=3"),
            (["--range", "percentile=100", "png16.png"], "percentile=100"),
            (["--range", "percentile=-1", "png16.png"], "percentile=-1"),
            (["--range", "percentile=1e-3", "png16.png"], "percentile=1e-3"),
            (["--range", "fixed=5:5", "png16.png"], "fixed=5:5"),
            (["--range", "fixed=9:3", "png16.png"], "fixed=9:3"),
            (["--range", "fixed=0:65536", "png16.png"], "fixed=0:65536"),
            (["--range", "fixed=10", "png16.png"], "fixed=10"),
            (["--range", "plateau=0", "png16.png"], "plateau=0"),
            # Past 32 bits: wraps to 1 where a long is 32 bits wide (Windows).
            (["--range", "plateau=4294967297", "png16.png"], "plateau=4294967297"),
            (["--range", "fixed=0:4294967396", "png16.png"], "fixed=0:4294967396"),
            (["--range", "plateau", "png16.png"], "plateau"),
            (["--range", "", "png16.png"], "unknown --range ''"),
            (["--size", "", "clip.raw"], "--size ''"),
            # CLI11 takes the next word as the empty option's value.
            (["--range=", "png16.png"], "no FRAME given"),
            (["--size=", "clip.raw"], "no FRAME given"),
            (["--palette", "missing.bin", "png16.png"], "missing.bin"),
            (["--palette", "short.bin.pal", "png16.png"], "1000 bytes"),
            (["--order", "argb", "png16.png"], "argb"),
            (["--out-dir", "missing", "png16.png"], "'missing' does not exist"),
            ([], "no FRAME given"),
            # Bad input anywhere writes nothing, even after good frames.
            (["png16.png", "eight.pgm", "one-bit.png"], "one-bit.png"),
            (["--size", "40x30", "clip.raw", "empty.raw"], "empty.raw"),
            # An output over an input: the frame itself, or the palette.
            (["--out-dir", ".", "png8.png"], "would overwrite the input"),
            (["--out-dir", ".", "eight.pgm", "png8.png"], "would overwrite the input"),
            (["--palette", "out/png16.png", "--out-dir", "out", "png16.png"],
             "would overwrite the input"),
            # Two inputs, one output name; also when only the case differs.
            (["--out-dir", "out", "a/same.png", "b/same.pgm"], "same.png"),
            (["--out-dir", "out", "a/same.png", "b/SAME.pgm"], "SAME.png"),
            (["--out-dir", "out", "png8.png", "png8.png"], "png8.png"),
        ]
        for args, expected in cases:
            with self.subTest(args=" ".join(args)):
                directory = os.path.join(self.scratch(), "case")
                shutil.copytree(self.template, directory)
                before = directory_snapshot(directory)
                if "--out-dir" not in args:
                    args = ["--out-dir", "out"] + args
                status, out, err = run(args, directory)
                self.assertEqual(status, 2, err)
                self.assertEqual(out, "")
                self.assertRegex(err, r"\Apalette-apply: [^\n]+\n\Z")
                self.assertIn(expected, err)
                self.assertEqual(directory_snapshot(directory), before)

    def test_failed_write_stops_with_status_1_and_keeps_earlier_outputs_whole(self):
        directory = os.path.join(self.scratch(), "case")
        shutil.copytree(self.template, directory)
        # A folder where the second output goes makes its move into place fail.
        os.mkdir(os.path.join(directory, "out", "eight.png"))
        status, out, err = run(["--out-dir", "out", "png8.png", "eight.pgm", "sixteen.pgm"],
                                directory)
        self.assertEqual(status, 1)
        self.assertRegex(err, r"\Apalette-apply: [^\n]*eight\.png[^\n]*\n\Z")
        self.assertEqual(out.replace("\\", "/"), "wrote out/png8.png (direct 0:255)\n")
        self.assertTrue(np.array_equal(decode_output(os.path.join(directory, "out", "png8.png")),
                                       cv2.applyColorMap(frame8(), BGR_TABLE)))
        self.assertEqual(sorted(os.listdir(os.path.join(directory, "out"))),
                         ["eight.png", "png16.png", "png8.png"])


    def test_damaged_pixels_found_in_turn_stop_with_status_2(self):
        directory = os.path.join(self.scratch(), "case")
        shutil.copytree(self.template, directory)
        # A whole header, then compressed data that is not zlib's.
        with open(os.path.join(directory, "png8.png"), "rb") as file:
            good = file.read()
        write_file(os.path.join(directory, "damaged.png"), good[:33] + struct.pack(
            ">I", 16) + b"IDAT" + b"\xff" * 16 + b"\0" * 4 + good[-12:])
        status, out, err = run(["--out-dir", "out", "png8.png", "damaged.png"], directory)
        self.assertEqual(status, 2)
        self.assertRegex(err, r"\Apalette-apply: [^\n]*damaged\.png[^\n]*\n\Z")
        self.assertEqual(out.replace("\\", "/"), "wrote out/png8.png (direct 0:255)\n")
        self.assertEqual(sorted(os.listdir(os.path.join(directory, "out"))),
                         ["png16.png", "png8.png"])


class CommandLineTests(ScratchTestCase):
    def test_help_and_version_write_nothing(self):
        directory = self.scratch()
        status, out, err = run(["--help"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith("usage: palette-apply [--palette FILE] [--order bgra|rgba]"))
        status, out, err = run(["--version"], directory)
        self.assertEqual((status, out, err), (0, "palette-apply %s\n" % harness.VERSION, ""))
        self.assertEqual(sorted(os.listdir(directory)), ["official_palette_live.bin", "out"])

    def test_double_dash_ends_options(self):
        directory = self.scratch()
        cv2.imwrite(os.path.join(directory, "-odd.png"), frame8())
        status, _, err = run(["--out-dir", "out", "--", "-odd.png"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(np.array_equal(decode_output(os.path.join(directory, "out", "-odd.png")),
                                       cv2.applyColorMap(frame8(), BGR_TABLE)))

    def test_windows_expands_wildcards(self):
        # cmd passes a wildcard on as typed; the program expands it, as
        # Windows' own console programs do. On POSIX the shell does it.
        if not harness.EXE.lower().endswith(".exe"):
            self.skipTest("the shell expands wildcards on POSIX")
        directory = self.scratch()
        os.mkdir(os.path.join(directory, "frames"))
        for name in ("a.png", "b c.png"):
            cv2.imwrite(os.path.join(directory, "frames", name), frame8())
        status, out, err = run(["--out-dir", "out", "frames\\*.png"], directory)
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(sorted(os.listdir(os.path.join(directory, "out"))), ["a.png", "b c.png"])


class MemoryTests(ScratchTestCase):
    """Peak memory for 20 and for 200 frames of one raw file: flat."""

    def peak_kib(self, directory, frames):
        frame = frame16(99, 320, 256).astype("<u2").tobytes()
        name = "clip%d.raw" % frames
        write_file(os.path.join(directory, name), frame * frames)
        report = os.path.join(directory, "peak")
        status, _, err = run(["--size", "320x256", "--out-dir", "out", name], directory,
                             launcher=[GNU_TIME, "-f", "%M", "-o", report])
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(len(os.listdir(os.path.join(directory, "out"))), frames)
        shutil.rmtree(os.path.join(directory, "out"))
        os.mkdir(os.path.join(directory, "out"))
        os.remove(os.path.join(directory, name))
        with open(report) as text:
            return int(text.read().split()[-1])

    def test_peak_memory_does_not_grow_with_frames(self):
        if not os.access(GNU_TIME, os.X_OK):
            self.skipTest("GNU time is not installed")
        directory = self.scratch()
        few, many = self.peak_kib(directory, 20), self.peak_kib(directory, 200)
        # One frame's buffers are about 1.5 MiB; 180 more frames kept would
        # add hundreds. Allow for allocator noise only.
        self.assertLess(many - few, 1024, "peak %d KiB for 20 frames, %d KiB for 200"
                        % (few, many))


if __name__ == "__main__":
    harness.main()
