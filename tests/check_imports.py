#!/usr/bin/env python3
"""Fails when a Windows executable imports any DLL besides the system's own.

    check_imports.py [--objdump PROGRAM] EXECUTABLE...
"""
import argparse
import re
import subprocess
import sys

# KERNEL32 and the C runtime (msvcrt, or the universal CRT's forwarders).
ALLOWED = re.compile(r"^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$", re.I)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("executables", nargs="+")
    args = parser.parse_args()
    failed = 0
    for executable in args.executables:
        dump = subprocess.run([args.objdump, "-p", executable], check=True,
                              capture_output=True, text=True).stdout
        imported = re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)
        others = [name for name in imported if not ALLOWED.match(name)]
        print(f"{executable} imports: {' '.join(imported)}")
        if not any(name.lower() == "kernel32.dll" for name in imported):
            print("FAILED: no import table with KERNEL32.dll found")
            failed += 1
        elif others:
            print("FAILED: imports DLLs that are not the system's own:", " ".join(others))
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
