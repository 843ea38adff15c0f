#!/usr/bin/env python3
"""Saves that are whole, durable and race-free, tried as a hostile machine
would: the system calls behind a save (under strace), a full disk, a
replaced file's mode, a power cut, and a link re-planted at the temporary
names. Runs the real palette-probe and palette-export, natively or as .exe
files under wine.

    saves_tests.py --probe PATH --export PATH --sdk-dir DIR
                   [--platform native|windows] [--launcher ARG]... [TestClass ...]

Tests that need root, a tmpfs, a loop device or strace skip with the reason
(exit status 77 when every test run was skipped, so CTest shows a skip).
"""
import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

PALETTE = "official_palette_live.bin"
LIBRARIES = ("ThermalSDK.dll", "CoreSDKLib.dll")
EXPORT_SUFFIXES = (".png", ".csv", ".gpl", ".lut", "-bgr.bin")
# What the simulated camera hands out, and an earlier capture to replace.
NEW_PALETTE = bytes((37 * i + 11) % 256 for i in range(1024))
EARLIER_PALETTE = bytes((i * 7) % 256 for i in range(1024))
SKIPPED = 77
NOBODY = 65534

OPTIONS = argparse.Namespace()


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def capture(command, cwd, env=None, preexec_fn=None):
    """(status, stdout, stderr) with console line ends normalised; output
    goes to files, since a wineserver started by the run would hold a pipe."""
    if command[0] == "strace":
        # LeakSanitizer can't run under ptrace; the rest of ASan can.
        env = dict(os.environ if env is None else env)
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        completed = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, timeout=300, preexec_fn=preexec_fn)
        texts = []
        for file in (out, err):
            file.seek(0)
            texts.append(file.read().decode("utf-8", "replace").replace("\r\n", "\n"))
        return completed.returncode, texts[0], texts[1]


def probe_environment(log_path):
    env = {k: v for k, v in os.environ.items() if not k.startswith("SIMSDK_")}
    env.update({"SIMSDK_FRAME": "tight", "SIMSDK_PALETTE": "hex:" + NEW_PALETTE.hex(),
                "SIMSDK_LOG": windows_path(log_path) if OPTIONS.platform == "windows"
                else log_path})
    return env


def install_probe(directory):
    """The probe with the simulated SDK beside it, in directory."""
    os.makedirs(directory, exist_ok=True)
    shutil.copy2(OPTIONS.probe, directory)
    for library in LIBRARIES:
        shutil.copy2(os.path.join(OPTIONS.sdk_dir, library), directory)
    return os.path.join(directory, os.path.basename(OPTIONS.probe))


def run_probe(tool, work, wrapper=(), env=None, preexec_fn=None):
    log_path = os.path.join(os.path.dirname(tool), "sdk.log")
    env = env or probe_environment(log_path)
    result = capture(list(wrapper) + OPTIONS.launcher + [tool], work, env, preexec_fn)
    with open(log_path) as log:
        calls = log.read()
    assert "BREACH" not in calls and "\nStop " in calls, calls
    return result


def run_export(args, cwd, wrapper=(), env=None):
    return capture(list(wrapper) + OPTIONS.launcher + [OPTIONS.export] + args, cwd, env)


def read_file(path):
    with open(path, "rb") as file:
        return file.read()


def write_file(path, data):
    with open(path, "wb") as file:
        file.write(data)


def snapshot(directory):
    entries = {}
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        if os.path.islink(path):
            entries[name] = ("link", os.readlink(path))
        elif os.path.isdir(path):
            entries[name] = ("directory",)
        else:
            entries[name] = ("file", read_file(path))
    return entries


def export_names(stem):
    return [stem + suffix for suffix in EXPORT_SUFFIXES]


def reference_export(palette):
    """The files palette-export makes of palette, made in a scratch directory
    of their own: what a durable export must still hold after a cut."""
    directory = tempfile.mkdtemp(prefix="saves-reference-")
    try:
        write_file(os.path.join(directory, PALETTE), palette)
        status, _, err = run_export([], directory)
        assert status == 0, err
        stem = PALETTE[:-len(".bin")]
        return {name: read_file(os.path.join(directory, name)) for name in export_names(stem)}
    finally:
        shutil.rmtree(directory)


class ScratchTestCase(unittest.TestCase):
    def scratch(self):
        directory = tempfile.mkdtemp(prefix="saves-")
        self.addCleanup(shutil.rmtree, directory, True)
        return directory

    def require_root(self, what):
        if os.geteuid() != 0:
            self.skipTest(f"{what} needs root, and this runs as uid {os.geteuid()}")

    def mount_tmpfs(self, size):
        """A tmpfs of the given size, mounted for this test only."""
        self.require_root("mounting a tmpfs")
        mount_point = self.scratch()
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755",
                                  "tmpfs", mount_point], capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest("mounting a tmpfs is not allowed here: " + mounted.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", mount_point], check=True)
        return mount_point


def fill_up(directory):
    """Writes a file until the file system is full."""
    with open(os.path.join(directory, "filler"), "wb", buffering=0) as filler:
        try:
            while True:
                filler.write(b"\0" * 512)
        except OSError:
            pass


# --- system calls ---------------------------------------------------------

SYSCALL = re.compile(r"^(\d+) +(\d+\.\d+) +(?:<\.\.\. (\w+) resumed>|(\w+)\()(.*)$")
TRACED = "write,pwrite64,writev,fsync,fdatasync,rename,renameat,renameat2"


def parse_traces(*paths):
    """The traced calls of every file, in the order they were entered, as
    (name, text), with an unfinished call's text joined to its end."""
    events = []
    for path in paths:
        pending = {}
        with open(path, errors="replace") as trace:
            for line in trace:
                match = SYSCALL.match(line.rstrip("\n"))
                if not match:
                    continue
                pid, when, resumed, started, rest = match.groups()
                if started:
                    if rest.endswith("<unfinished ...>"):
                        pending[pid] = (float(when), started, rest)
                        continue
                    events.append((float(when), started, rest))
                elif pid in pending:
                    entered, name, text = pending.pop(pid)
                    events.append((entered, name, text + rest))
    return [(name, text) for _, name, text in sorted(events, key=lambda event: event[0])]


def check_flush_order(test, events, path):
    """Last write to "<path>.tmp", then its flush to disk, then the move over
    path, then a flush of the directory."""
    temporary = re.escape(path + ".tmp")
    directory = re.escape(os.path.dirname(path))

    def indexes(names, pattern):
        return [i for i, (name, text) in enumerate(events)
                if name in names and re.search(pattern, text)]

    writes = indexes(("write", "pwrite64", "writev"), rf"^\d+<{temporary}>")
    flushes = indexes(("fsync", "fdatasync"), rf"^\d+<{temporary}>")
    # The path may reach the call as given or made absolute (wine's server).
    moves = indexes(("rename", "renameat", "renameat2"),
                    rf'"(?:[^"]*/)?{re.escape(os.path.basename(path))}\.tmp".*'
                    rf'"(?:[^"]*/)?{re.escape(os.path.basename(path))}"')
    test.assertTrue(writes, f"no write to {path}.tmp")
    test.assertTrue(moves, f"no move of {path}.tmp over {path}")
    move = moves[-1]
    test.assertTrue([f for f in flushes if writes[-1] < f < move],
                    f"{path}.tmp is not flushed to disk between its last write and its move")
    directory_flushes = indexes(("fsync", "fdatasync"), rf"^\d+<{directory}>")
    test.assertTrue([f for f in directory_flushes if f > move],
                    f"the directory of {path} is not flushed after the move")


def wine_server(prefix):
    """The pid of the wineserver running for a prefix, if one is: it works
    in a directory named after the prefix's device and inode."""
    info = os.stat(prefix)
    directory = f"server-{info.st_dev:x}-{info.st_ino:x}"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/cwd")) == directory:
                return pid
        except OSError:
            pass
    return None


class StraceTests(ScratchTestCase):
    """Under wine the flushes come from FlushFileBuffers (wine 8 ignores the
    write-through flags): on the file before the move, and on the directory
    after it, which wine also turns into an fsync."""

    def setUp(self):
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        tried = subprocess.run(["strace", "-o", os.devnull, "true"], capture_output=True,
                               text=True)
        if tried.returncode != 0:
            self.skipTest("strace can't trace here: " + tried.stderr.strip())

    def traced(self, run):
        """Runs run(wrapper) under strace; returns the calls in order. Under
        wine the move is made by the wineserver, so it is traced too."""
        root = self.scratch()
        client_trace = os.path.join(root, "client.trace")
        options = ["-qq", "-y", "-ttt", "-e", "trace=" + TRACED]
        server = wine_server(os.environ["WINEPREFIX"]) if OPTIONS.platform == "windows" else None
        traces = [client_trace]
        server_strace = None
        if server:
            traces.append(os.path.join(root, "server.trace"))
            server_strace = subprocess.Popen(
                ["strace", "-f"] + options + ["-o", traces[1], "-p", server],
                stdin=subprocess.DEVNULL)
            time.sleep(1)  # attached before the run starts
            if server_strace.poll() is not None:
                self.fail(f"strace could not attach to the wineserver (pid {server})")
        try:
            result = run(["strace", "-f"] + options + ["-o", client_trace])
        finally:
            if server_strace:
                time.sleep(0.5)
                server_strace.terminate()  # detaches from the server
                server_strace.wait(timeout=30)
        return result, parse_traces(*traces)

    def test_probe_flushes_the_file_before_the_move_and_the_directory_after(self):
        root = self.scratch()
        tool = install_probe(os.path.join(root, "bin"))
        work = os.path.join(root, "work")
        os.mkdir(work)
        write_file(os.path.join(work, PALETTE), EARLIER_PALETTE)
        (status, out, _), events = self.traced(lambda wrapper: run_probe(tool, work, wrapper))
        self.assertEqual(status, 0, out)
        self.assertEqual(read_file(os.path.join(work, PALETTE)), NEW_PALETTE)
        check_flush_order(self, events, os.path.join(work, PALETTE))

    def test_export_flushes_every_output_before_its_move_and_the_directory_after(self):
        root = self.scratch()
        write_file(os.path.join(root, "pal.bin"), NEW_PALETTE)
        os.mkdir(os.path.join(root, "out"))
        (status, _, err), events = self.traced(
            lambda wrapper: run_export(["--out-dir", "out", "pal.bin"], root, wrapper))
        self.assertEqual((status, err), (0, ""))
        for name in export_names("pal"):
            with self.subTest(name):
                check_flush_order(self, events, os.path.join(root, "out", name))


# --- a full disk ------------------------------------------------------------

class FullDiskTests(ScratchTestCase):
    def test_probe_says_it_failed_and_keeps_the_earlier_palette(self):
        disk = self.mount_tmpfs("16k")
        write_file(os.path.join(disk, PALETTE), EARLIER_PALETTE)
        fill_up(disk)
        before = snapshot(disk)
        tool = install_probe(os.path.join(self.scratch(), "bin"))
        status, out, err = run_probe(tool, disk)
        self.assertEqual(status, 1, out)
        self.assertIn(f"\nfailed to save {PALETTE}\n", out)
        self.assertNotIn("saved", out)
        self.assertEqual(err, "")
        self.assertEqual(snapshot(disk), before)

    def test_export_fails_with_one_line_and_keeps_the_earlier_export(self):
        disk = self.mount_tmpfs("64k")
        write_file(os.path.join(disk, "pal.bin"), EARLIER_PALETTE)
        self.assertEqual(run_export(["pal.bin"], disk)[0], 0)
        write_file(os.path.join(disk, "pal.bin"), NEW_PALETTE)
        fill_up(disk)
        before = snapshot(disk)
        status, out, err = run_export(["pal.bin"], disk)
        self.assertEqual(status, 1, out)
        self.assertRegex(err, r"\Apalette-export: [^\n]+\n\Z")
        self.assertNotIn("wrote", out)
        self.assertEqual(snapshot(disk), before)


# --- permissions --------------------------------------------------------------

MODE_CASES = [
    # (mode of the file replaced, umask of the run)
    (0o600, 0o022),
    (0o640, 0o077),   # the umask does not narrow a replaced file
    (0o666, 0o022),   # nor does it when the file was wider than it allows
    (0o400, 0o022),   # a read-only file is replaced as one
]


@unittest.skipIf(os.name == "nt", "POSIX permissions")
class ModeTests(ScratchTestCase):
    def setUp(self):
        if OPTIONS.platform != "native":
            self.skipTest("wine maps no permissions but the read-only bit")

    def test_probe_keeps_the_mode_of_the_palette_it_replaces(self):
        tool = install_probe(os.path.join(self.scratch(), "bin"))
        for mode, umask in MODE_CASES:
            with self.subTest(mode=oct(mode), umask=oct(umask)):
                work = self.scratch()
                path = os.path.join(work, PALETTE)
                write_file(path, EARLIER_PALETTE)
                os.chmod(path, mode)
                status, out, _ = run_probe(tool, work, preexec_fn=lambda: os.umask(umask))
                self.assertEqual(status, 0, out)
                self.assertEqual(oct(os.stat(path).st_mode & 0o7777), oct(mode))
                self.assertEqual(read_file(path), NEW_PALETTE)

    def test_export_keeps_the_mode_of_each_output_and_gives_new_ones_the_usual(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "pal.bin"), EARLIER_PALETTE)
        names = export_names("pal")
        self.assertEqual(run_export(["pal.bin"], directory)[0], 0)
        modes = dict(zip(names, (0o600, 0o640, 0o444, 0o660, 0o604)))
        for name, mode in modes.items():
            os.chmod(os.path.join(directory, name), mode)
        os.remove(os.path.join(directory, names[-1]))
        write_file(os.path.join(directory, "pal.bin"), NEW_PALETTE)
        old_umask = os.umask(0o027)
        try:
            status, _, err = run_export(["pal.bin"], directory)
        finally:
            os.umask(old_umask)
        self.assertEqual((status, err), (0, ""))
        modes[names[-1]] = 0o640  # a file of its own: 0666 less the umask
        for name, mode in modes.items():
            self.assertEqual(oct(os.stat(os.path.join(directory, name)).st_mode & 0o7777),
                             oct(mode), name)


    def test_export_into_a_directory_it_cannot_list_fails_before_moving_anything(self):
        # Such a directory can't be flushed; the save must fail before the
        # first move, not after it.
        directory = self.scratch()
        os.chmod(directory, 0o755)
        out = os.path.join(directory, "out")
        os.mkdir(out)
        write_file(os.path.join(directory, "pal.bin"), EARLIER_PALETTE)
        self.assertEqual(run_export(["--out-dir", "out", "pal.bin"], directory)[0], 0)
        write_file(os.path.join(directory, "pal.bin"), NEW_PALETTE)
        before = snapshot(out)
        os.chmod(out, 0o333)
        self.addCleanup(os.chmod, out, 0o755)

        def as_nobody():  # root lists anything
            if os.geteuid() == 0:
                os.setgid(NOBODY)
                os.setuid(NOBODY)

        status, stdout, err = capture(OPTIONS.launcher + [OPTIONS.export, "--out-dir", "out",
                                                          "pal.bin"], directory,
                                      preexec_fn=as_nobody)
        self.assertEqual((status, stdout), (1, ""), err)
        self.assertRegex(err, r"\Apalette-export: [^\n]*pal\.png[^\n]*\n\Z")
        os.chmod(out, 0o755)
        self.assertEqual(snapshot(out), before)


# --- a link re-planted at the temporary names ---------------------------------

@unittest.skipIf(os.name == "nt", "POSIX links")
class PlantedLinkTests(ScratchTestCase):
    RUNS = 40

    def setUp(self):
        if OPTIONS.platform != "native":
            self.skipTest("wine shows a POSIX link to Windows programs as its target")

    def test_export_never_writes_through_a_link_replanted_at_a_temporary_name(self):
        directory = self.scratch()
        write_file(os.path.join(directory, "pal.bin"), EARLIER_PALETTE)
        self.assertEqual(run_export(["pal.bin"], directory)[0], 0)
        write_file(os.path.join(directory, "pal.bin"), NEW_PALETTE)
        new = reference_export_as(NEW_PALETTE, "pal")
        target = os.path.join(directory, "target")
        write_file(target, b"the target of the links")
        temporaries = [os.path.join(directory, name + ".tmp") for name in export_names("pal")]
        planting = threading.Event()
        planting.set()

        def plant():
            while planting.is_set():
                for temporary in temporaries:
                    try:
                        os.symlink("target", temporary)
                    except FileExistsError:
                        pass

        planter = threading.Thread(target=plant)
        planter.start()
        outcomes = []
        try:
            for _ in range(self.RUNS):
                earlier = {name: read_file(os.path.join(directory, name))
                           for name in export_names("pal")}
                status, out, err = run_export(["pal.bin"], directory)
                outcomes.append(status)
                self.assertEqual(read_file(target), b"the target of the links")
                for name in export_names("pal"):
                    path = os.path.join(directory, name)
                    self.assertFalse(os.path.islink(path), name)
                    if status == 0:
                        self.assertEqual(read_file(path), new[name], name)
                    else:
                        self.assertEqual(status, 1, err)
                        self.assertRegex(err, r"\Apalette-export: [^\n]+\n\Z")
                        # A failed move of one leaves each file whole, old or new.
                        self.assertIn(read_file(path), (earlier[name], new[name]), name)
        finally:
            planting.clear()
            planter.join()
        print(f"\n{outcomes.count(0)} of {self.RUNS} exports saved, the rest lost the race",
              file=sys.stderr)


def reference_export_as(palette, stem):
    files = reference_export(palette)
    default_stem = PALETTE[:-len(".bin")]
    # The GIMP palette names its stem; put the one used here in.
    renamed = {}
    for name, data in files.items():
        new_name = stem + name[len(default_stem):]
        if name.endswith(".gpl"):
            data = data.replace(b"Name: " + default_stem.encode(), b"Name: " + stem.encode())
        renamed[new_name] = data
    return renamed


# --- a power cut ------------------------------------------------------------------

# EXT4_IOC_SHUTDOWN = _IOR('X', 125, __u32); EXT4_GOING_FLAGS_NOLOGFLUSH = 2:
# the file system stops at once, as a power cut would stop it, with what the
# journal holds on disk and nothing more.
EXT4_IOC_SHUTDOWN = 0x8004587D
EXT4_GOING_FLAGS_NOLOGFLUSH = 2


class PowerCutTests(ScratchTestCase):
    def setUp(self):
        self.require_root("a loop device")
        for tool in ("losetup", "mkfs.ext4", "mount", "umount"):
            if not shutil.which(tool):
                self.skipTest(f"{tool} is not installed")

    def ext4_on_loop_device(self):
        image = os.path.join(self.scratch(), "disk.img")
        with open(image, "wb") as file:
            file.truncate(32 * 1024 * 1024)
        made = subprocess.run(["mkfs.ext4", "-q", "-F", image], capture_output=True, text=True)
        self.assertEqual(made.returncode, 0, made.stderr)
        attached = subprocess.run(["losetup", "-f", "--show", image], capture_output=True,
                                  text=True)
        if attached.returncode != 0:
            self.skipTest("no loop device can be set up here: " + attached.stderr.strip())
        device = attached.stdout.strip()
        self.addCleanup(subprocess.run, ["losetup", "-d", device])
        mount_point = self.scratch()
        # noauto_da_alloc: no implicit flush when a file is replaced by a
        # move, so only the tools' own flushes keep the data.
        options = ["-o", "noauto_da_alloc"]

        def mount():
            mounted = subprocess.run(["mount", "-t", "ext4"] + options + [device, mount_point],
                                     capture_output=True, text=True)
            if mounted.returncode != 0:
                self.skipTest("an ext4 image can't be mounted here: " + mounted.stderr.strip())

        def cut_power_and_remount():
            descriptor = os.open(mount_point, os.O_RDONLY | os.O_DIRECTORY)
            try:
                fcntl.ioctl(descriptor, EXT4_IOC_SHUTDOWN,
                            EXT4_GOING_FLAGS_NOLOGFLUSH.to_bytes(4, sys.byteorder))
            finally:
                os.close(descriptor)
            subprocess.run(["umount", mount_point], check=True)
            mount()

        mount()
        self.addCleanup(subprocess.run, ["umount", mount_point])
        return mount_point, cut_power_and_remount

    def test_probe_then_export_survive_a_power_cut_three_seconds_later(self):
        disk, cut_power_and_remount = self.ext4_on_loop_device()
        work = os.path.join(disk, "work")
        os.mkdir(work)
        # An earlier capture, made durable before the run.
        write_file(os.path.join(work, PALETTE), EARLIER_PALETTE)
        os.sync()
        tool = install_probe(os.path.join(self.scratch(), "bin"))
        status, out, _ = run_probe(tool, work)
        self.assertEqual(status, 0, out)
        self.assertEqual(read_file(os.path.join(work, PALETTE)), NEW_PALETTE)
        status, _, err = run_export([], work)
        self.assertEqual((status, err), (0, ""))
        expected = reference_export(NEW_PALETTE)
        time.sleep(3)
        cut_power_and_remount()
        self.assertEqual(read_file(os.path.join(work, PALETTE)), NEW_PALETTE,
                         "the palette saved before the cut is not on disk whole")
        for name, data in expected.items():
            with self.subTest(name):
                path = os.path.join(work, name)
                self.assertEqual(read_file(path) if os.path.exists(path) else None, data,
                                 f"{name} exported before the cut is not on disk whole")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--export", required=True)
    parser.add_argument("--sdk-dir", required=True)
    parser.add_argument("--platform", default="native", choices=("native", "windows"))
    parser.add_argument("--launcher", action="append", default=[])
    options, rest = parser.parse_known_args()
    OPTIONS.probe = os.path.abspath(options.probe)
    OPTIONS.export = os.path.abspath(options.export)
    OPTIONS.sdk_dir = os.path.abspath(options.sdk_dir)
    OPTIONS.platform = options.platform
    OPTIONS.launcher = options.launcher
    program = unittest.main(argv=[sys.argv[0], "-v"] + rest, exit=False)
    result = program.result
    if not result.wasSuccessful():
        return 1
    return SKIPPED if result.testsRun and len(result.skipped) == result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main())
