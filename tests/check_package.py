#!/usr/bin/env python3
"""Makes the release with cpack and checks it: the ZIP holds every program
and INSTALL.txt, in name order, with fixed times (SOURCE_DATE_EPOCH) and
modes and no extra fields (times, owner); SHA256SUMS beside it passes
`sha256sum -c`; INSTALL.txt names every program. Then runs the unpacked
programs: each command's --version, and the probe's example run against
the simulated SDK.

    check_package.py --cpack-config F --package ZIP --version V --sdk-dir DIR
                     [--launcher CMD] PROGRAM_FILE...
"""
import argparse
import datetime
import hashlib
import os
import shlex
import stat
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PROBE = "palette-probe.exe"
# An odd second: a ZIP entry holds even seconds only.
RELEASE_EPOCH = 1700000001


def run_to_file(command, cwd):
    """Exit status and output; output through a file, which a wineserver
    started by the run can't hold open as it could a pipe."""
    with tempfile.TemporaryFile() as output:
        completed = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=subprocess.STDOUT, timeout=120)
        output.seek(0)
        return completed.returncode, output.read().decode("utf-8", "replace")


def check_archive(archive, package_name, programs, failures):
    moment = datetime.datetime.fromtimestamp(RELEASE_EPOCH, datetime.timezone.utc)
    expected_time = (moment.year, moment.month, moment.day, moment.hour, moment.minute,
                     moment.second - moment.second % 2)
    expected_names = sorted(["INSTALL.txt"] + list(programs))
    with zipfile.ZipFile(archive) as package:
        names = package.namelist()
        if names != expected_names:
            failures.append(f"the package holds {names}, expected {expected_names}")
        for info in package.infolist():
            mode = info.external_attr >> 16
            expected_mode = 0o755 if info.filename.endswith(".exe") else 0o644
            if (info.date_time, info.create_system, stat.S_IMODE(mode), stat.S_ISREG(mode)) != \
                    (expected_time, 3, expected_mode, True):
                failures.append(f"{info.filename}: dated {info.date_time}, mode {mode:o}, "
                                f"system {info.create_system}; expected {expected_time}, "
                                f"a file of mode {expected_mode:o}, system 3")
            # Extra fields hold access and creation times and the packer's
            # user and group: a ZIP made elsewhere or later would differ.
            if info.extra:
                failures.append(f"{info.filename} has extra fields {info.extra.hex()}")
            if info.filename in programs:
                with open(programs[info.filename], "rb") as built:
                    if package.read(info) != built.read():
                        failures.append(f"{info.filename} is not the program the build made")
        install_text = package.read("INSTALL.txt") if "INSTALL.txt" in names else b""
    if b"\n" in install_text.replace(b"\r\n", b""):
        failures.append("INSTALL.txt has lines that don't end in CR LF, as Notepad wants")
    # It names every program, and the ZIP with its version for the digest.
    for mentioned in list(programs) + [package_name]:
        if mentioned.encode() not in install_text:
            failures.append(f"INSTALL.txt does not mention {mentioned}")


def check_sums(scratch, package_name, failures):
    sums_path = os.path.join(scratch, "SHA256SUMS")
    if not os.path.isfile(sums_path):
        failures.append(f"no SHA256SUMS beside the ZIP: {sorted(os.listdir(scratch))}")
        return
    with open(os.path.join(scratch, package_name), "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    with open(sums_path, "rb") as file:
        sums = file.read()
    if sums != f"{digest}  {package_name}\n".encode():
        failures.append(f"SHA256SUMS holds {sums!r}, expected the ZIP's digest {digest}")
    status, output = run_to_file(["sha256sum", "--strict", "-c", "SHA256SUMS"], scratch)
    if (status, output) != (0, f"{package_name}: OK\n"):
        failures.append(f"sha256sum -c exits {status}: {output}")


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack-config", required=True)
    parser.add_argument("--package", required=True, help="file name cpack should produce")
    parser.add_argument("--version", required=True)
    parser.add_argument("--sdk-dir", required=True)
    parser.add_argument("--launcher", default="")
    parser.add_argument("program_files", nargs="+")
    args = parser.parse_args()
    programs = {os.path.basename(path): path for path in args.program_files}
    failures = []
    with tempfile.TemporaryDirectory(prefix="probe-package-") as scratch:
        environment = dict(os.environ, SOURCE_DATE_EPOCH=str(RELEASE_EPOCH))
        subprocess.run(["cpack", "--config", args.cpack_config, "-B", scratch], check=True,
                       env=environment, stdout=subprocess.DEVNULL)
        archive = os.path.join(scratch, args.package)
        if not os.path.isfile(archive):
            print(f"FAILED: cpack made no {args.package}: {os.listdir(scratch)}")
            return 1
        check_archive(archive, args.package, programs, failures)
        check_sums(scratch, args.package, failures)
        unpacked = os.path.join(scratch, "unpacked")
        with zipfile.ZipFile(archive) as package:
            package.extractall(unpacked)
        # The commands start from the ZIP, manifest and all.
        for program in sorted(programs):
            if program == PROBE or not os.path.isfile(os.path.join(unpacked, program)):
                continue
            command = shlex.split(args.launcher) + [os.path.join(unpacked, program), "--version"]
            result = run_to_file(command, unpacked)
            expected = (0, f"{program[:-len('.exe')]} {args.version}\r\n")
            if result != expected:
                failures.append(f"{program} --version gives {result}, expected {expected}")
        for failure in failures:
            print(f"FAILED: {failure}")
        if not os.path.isfile(os.path.join(unpacked, PROBE)):
            return 1
        probe_run = subprocess.run([sys.executable, os.path.join(HERE, "probe_cases.py"),
                                    "--platform", "windows", "--launcher", args.launcher,
                                    "--tool", os.path.join(unpacked, PROBE),
                                    "--sdk-dir", args.sdk_dir, "example-run"])
    return 1 if failures or probe_run.returncode != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
