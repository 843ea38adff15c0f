#!/usr/bin/env python3
"""Builds the release ZIP with cpack, unpacks it, checks what it holds, and
runs the packaged executable against the simulated SDK (the example run)."""
import argparse
import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack-config", required=True)
    parser.add_argument("--package", required=True, help="file name cpack should produce")
    parser.add_argument("--sdk-dir", required=True)
    parser.add_argument("--launcher", default="")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="probe-package-") as scratch:
        subprocess.run(["cpack", "--config", args.cpack_config, "-B", scratch], check=True,
                       stdout=subprocess.DEVNULL)
        archive = os.path.join(scratch, args.package)
        if not os.path.isfile(archive):
            print(f"FAILED: cpack made no {args.package}: {os.listdir(scratch)}")
            return 1
        with zipfile.ZipFile(archive) as package:
            names = sorted(package.namelist())
            if names != ["INSTALL.txt", "palette-probe.exe"]:
                print(f"FAILED: the package holds {names}")
                return 1
            package.extractall(os.path.join(scratch, "unpacked"))
        tool = os.path.join(scratch, "unpacked", "palette-probe.exe")
        return subprocess.run([sys.executable, os.path.join(HERE, "probe_cases.py"),
                               "--platform", "windows", "--launcher", args.launcher,
                               "--tool", tool, "--sdk-dir", args.sdk_dir,
                               "example-run"]).returncode


if __name__ == "__main__":
    sys.exit(main())
