"""What the toolkit's test scripts (export/, apply/, compare/) share: running
a built executable as a process, natively or through a launcher (wine for a
Windows build), in a scratch directory; reading, writing and snapshotting
files; and the command line every script takes:

    SCRIPT --exe PATH [--launcher ARG]... --version V [OPTION]... [TestClass ...]

A script puts this folder on sys.path and imports the module. EXE, LAUNCHER,
VERSION and OPTIONS are set by main() before any test runs, so scripts read
them as attributes of the module, not as names imported from it.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

EXE = ""
LAUNCHER = []
VERSION = ""
# Every parsed option, including the ones a script adds (see main()).
OPTIONS = None


def run(args, cwd, executable=None, launcher=None, stdin_data=None, timeout=300):
    """Runs LAUNCHER + [executable or EXE] + args in cwd and returns (exit
    status, stdout, stderr), console line ends normalised, since a Windows
    console program turns "\\n" into "\\r\\n". launcher, when given, replaces
    LAUNCHER; stdin_data (bytes), when given, is the program's input, which
    is otherwise empty.

    Input and output go through files, not pipes: a wineserver that the
    launcher starts inherits them and outlives the run, and would hold a
    pipe open."""
    command = (LAUNCHER if launcher is None else launcher) + [executable or EXE] + args
    with tempfile.TemporaryFile() as given, tempfile.TemporaryFile() as out, \
            tempfile.TemporaryFile() as err:
        stdin = subprocess.DEVNULL
        if stdin_data is not None:
            given.write(stdin_data)
            given.seek(0)
            stdin = given
        completed = subprocess.run(command, cwd=cwd, stdin=stdin, stdout=out, stderr=err,
                                   timeout=timeout)

        def text(file):
            file.seek(0)
            return file.read().decode("utf-8", "replace").replace("\r\n", "\n")

        return completed.returncode, text(out), text(err)


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
    # A script's own base class names its scratch directories.
    scratch_prefix = "toolkit-"

    def scratch(self):
        """A new empty directory, removed when the test ends."""
        directory = tempfile.mkdtemp(prefix=self.scratch_prefix)
        self.addCleanup(shutil.rmtree, directory)
        return directory


def main(add_options=None):
    """Parses the command line, sets EXE (made absolute), LAUNCHER, VERSION
    and OPTIONS, and runs the test classes named in what is left of it (all
    of the script's when none is). add_options(parser), when given, adds the
    script's own options."""
    global EXE, LAUNCHER, VERSION, OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--launcher", action="append", default=[])
    parser.add_argument("--version", required=True)
    if add_options:
        add_options(parser)
    options, rest = parser.parse_known_args()
    EXE = os.path.abspath(options.exe)
    LAUNCHER = options.launcher
    VERSION = options.version
    OPTIONS = options
    # The tests are the running script's, __main__'s.
    unittest.main(module="__main__", argv=[sys.argv[0], "-v"] + rest)
