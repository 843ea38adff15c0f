#!/usr/bin/env python3
"""Rewrites release ZIPs so that the same files always give the same bytes,
and writes SHA256SUMS beside them.

    release_zip.py [--source-dir DIR] [--sums-dir DIR] ZIP...

Entries are sorted by name and carry fixed metadata: the time of the commit
(SOURCE_DATE_EPOCH if set, else the last commit's time in DIR from git,
else 1980-01-01 00:00 UTC), mode 0755 for programs and folders and 0644 for
everything else, and deflate at level 9. SHA256SUMS lists every ZIP of its
folder (or of --sums-dir, where the ZIPs are to be copied) in the format of
sha256sum, so that `sha256sum -c SHA256SUMS` checks them.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import time
import zipfile

# The earliest time a ZIP entry can hold (MS-DOS dates start in 1980).
EARLIEST = 315532800


def release_time(source_dir):
    """Seconds since 1970 that every entry is dated with."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    if epoch:
        if not epoch.isdigit():
            raise SystemExit(f"release_zip.py: SOURCE_DATE_EPOCH '{epoch}' is not a number "
                             "of seconds")
        return int(epoch)
    if source_dir:
        try:
            completed = subprocess.run(
                ["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                capture_output=True, text=True, check=True)
            return int(completed.stdout.strip())
        except (OSError, subprocess.CalledProcessError, ValueError) as error:
            print(f"release_zip.py: no commit time from git ({error}); "
                  "dating entries 1980-01-01", file=sys.stderr)
    return EARLIEST


def rewrite(path, epoch):
    with zipfile.ZipFile(path) as original:
        entries = [(info.filename, info.is_dir(), original.read(info))
                   for info in original.infolist()]
    names = [name for name, _, _ in entries]
    if len(set(names)) != len(names):
        raise SystemExit(f"release_zip.py: {path} holds a name twice")
    # ZIP times are broken-down times without a zone: UTC, so the zone of
    # the machine that packs makes no difference.
    date_time = time.gmtime(max(epoch, EARLIEST))[:6]
    temporary = path + ".tmp"
    with zipfile.ZipFile(temporary, "w") as rewritten:
        for name, is_dir, data in sorted(entries):
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3  # Unix, so that the modes below apply
            mode = 0o755 if is_dir or name.lower().endswith(".exe") else 0o644
            kind = 0o040000 if is_dir else 0o100000
            info.external_attr = ((kind | mode) << 16) | (0x10 if is_dir else 0)
            info.compress_type = zipfile.ZIP_STORED if is_dir else zipfile.ZIP_DEFLATED
            rewritten.writestr(info, data, compresslevel=9)
    os.replace(temporary, path)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        for block in iter(lambda: file.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def write_sums(folder, packages):
    lines = "".join(f"{sha256(path)}  {os.path.basename(path)}\n" for path in sorted(packages))
    temporary = os.path.join(folder, "SHA256SUMS.tmp")
    with open(temporary, "w", encoding="ascii", newline="\n") as file:
        file.write(lines)
    os.replace(temporary, os.path.join(folder, "SHA256SUMS"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source-dir", default="")
    parser.add_argument("--sums-dir", default="")
    parser.add_argument("packages", nargs="+")
    args = parser.parse_args()
    epoch = release_time(args.source_dir)
    by_folder = {}
    for package in args.packages:
        path = os.path.abspath(package)
        rewrite(path, epoch)
        folder = os.path.abspath(args.sums_dir) if args.sums_dir else os.path.dirname(path)
        by_folder.setdefault(folder, []).append(path)
    for folder, packages in by_folder.items():
        write_sums(folder, packages)
    return 0


if __name__ == "__main__":
    sys.exit(main())
