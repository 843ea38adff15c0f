#!/usr/bin/env python3
"""Builds the Windows release twice from clean, in two build directories of
different names and depths, and compares the programs, the ZIP and
SHA256SUMS byte for byte. Also checks that the ZIP's entries are dated with
the commit's time.

    check_reproducible.py --source-dir DIR --preset P --package ZIP PROGRAM...
"""
import argparse
import datetime
import os
import subprocess
import sys
import tempfile
import zipfile


def build(source_dir, preset, build_dir, log):
    environment = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    for command in (["cmake", "--preset", preset, "-B", build_dir, "-DBUILD_TESTING=OFF"],
                    ["cmake", "--build", build_dir, "-j2", "--target", "release"]):
        completed = subprocess.run(["nice"] + command, cwd=source_dir, env=environment,
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        if completed.returncode != 0:
            return False
    return True


def first_difference(first, second):
    for offset, (a, b) in enumerate(zip(first, second)):
        if a != b:
            return offset
    return min(len(first), len(second))


def commit_time(source_dir):
    """The ZIP time of the last commit, read with git; 1980-01-01 without one."""
    try:
        seconds = int(subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                                     capture_output=True, text=True, check=True).stdout)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return (1980, 1, 1, 0, 0, 0)
    moment = datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)
    return (moment.year, moment.month, moment.day, moment.hour, moment.minute,
            moment.second - moment.second % 2)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--preset", required=True)
    parser.add_argument("--package", required=True)
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    compared = [os.path.join("bin", program + ".exe") for program in args.programs]
    compared += [args.package, "SHA256SUMS"]
    with tempfile.TemporaryDirectory(prefix="release-twice-") as scratch:
        build_dirs = [os.path.join(scratch, "one"),
                      os.path.join(scratch, "another", "build directory, deeper")]
        for build_dir in build_dirs:
            log_path = build_dir.rstrip(os.sep) + ".log"
            os.makedirs(os.path.dirname(log_path), exist_ok=True)
            with open(log_path, "w") as log:
                if not build(args.source_dir, args.preset, build_dir, log):
                    with open(log_path) as failed_log:
                        print(failed_log.read()[-4000:])
                    print(f"FAILED: the build in {build_dir} failed")
                    return 1
        failed = 0
        for name in compared:
            contents = []
            for build_dir in build_dirs:
                with open(os.path.join(build_dir, name), "rb") as file:
                    contents.append(file.read())
            if contents[0] == contents[1]:
                print(f"ok {name}: {len(contents[0])} bytes, the same in both builds")
            else:
                failed += 1
                print(f"FAILED: {name} differs between the builds ({len(contents[0])} and "
                      f"{len(contents[1])} bytes, first at offset "
                      f"{first_difference(*contents):#x})")
        expected_time = commit_time(args.source_dir)
        with zipfile.ZipFile(os.path.join(build_dirs[0], args.package)) as package:
            times = {info.filename: info.date_time for info in package.infolist()}
        if set(times.values()) != {expected_time}:
            failed += 1
            print(f"FAILED: entries dated {times}, not with the commit's time {expected_time}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
