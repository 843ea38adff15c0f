#!/usr/bin/env python3
"""Checks what each Windows executable carries, read back with pefile: an
application manifest that makes it long-path aware and runs it as the
invoker, a version resource with its own name, and no time stamp in its
header (which would make every build differ).

    check_resources.py --version V EXECUTABLE...
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ElementTree

RT_MANIFEST = 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def manifest_of(pe):
    """The bytes of the process manifest (RT_MANIFEST, id 1), or None."""
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in resources.entries if resources else []:
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            if name.id == 1:
                data = name.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def strings_of(pe):
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            if entry.Key == b"StringFileInfo":
                return {key.decode(): value.decode() for table in entry.StringTable
                        for key, value in table.entries.items()}
    return {}


def problems_of(path, version, pefile):
    program = os.path.splitext(os.path.basename(path))[0]
    pe = pefile.PE(path)
    problems = []
    if pe.FILE_HEADER.TimeDateStamp != 0:
        problems.append(f"time stamp {pe.FILE_HEADER.TimeDateStamp} in the COFF header")
    manifest = manifest_of(pe)
    if manifest is None:
        return problems + ["no application manifest (RT_MANIFEST 1)"]
    root = ElementTree.fromstring(manifest)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    if identity is None or identity.get("name") != program or \
            identity.get("processorArchitecture") != "amd64":
        problems.append(f"assembly identity {identity.attrib if identity is not None else None}")
    aware = root.findall(f"{ASM_V3}application/{ASM_V3}windowsSettings/"
                         f"{WINDOWS_SETTINGS_2016}longPathAware")
    if [element.text for element in aware] != ["true"]:
        problems.append(f"longPathAware {[element.text for element in aware]}, not ['true']")
    levels = [element.attrib for element in root.iter(ASM_V3 + "requestedExecutionLevel")]
    if levels != [{"level": "asInvoker", "uiAccess": "false"}]:
        problems.append(f"requested execution level {levels}")
    supported = [element.get("Id") for element in
                 root.iter(COMPATIBILITY + "supportedOS")]
    if WINDOWS_10_AND_11 not in supported:
        problems.append(f"Windows 10 and 11 not among the supported systems {supported}")
    strings = strings_of(pe)
    expected = {"OriginalFilename": program + ".exe", "InternalName": program,
                "FileVersion": version, "ProductVersion": version}
    for key, value in expected.items():
        if strings.get(key) != value:
            problems.append(f"version resource {key} {strings.get(key)!r}, not {value!r}")
    if not strings.get("FileDescription"):
        problems.append("version resource without a description")
    return problems


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("executables", nargs="+")
    args = parser.parse_args()
    try:
        import pefile
    except ImportError:
        print("FAILED: Python's pefile is missing (Debian: python3-pefile, which "
              "scripts/install-deps --windows installs)")
        return 1
    failed = 0
    for path in args.executables:
        problems = problems_of(path, args.version, pefile)
        for problem in problems:
            print(f"FAILED: {path}: {problem}")
        if not problems:
            print(f"ok {path}")
        failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
