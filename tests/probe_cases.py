#!/usr/bin/env python3
"""Process tests for palette-probe, run against the simulated camera SDK.

Each case lays out the tool and the SDK libraries in a directory of its own,
runs the real executable as a process (under a launcher such as wine for the
Windows build), and checks its standard output byte for byte, its exit
status, the palette file, everything else in the working directory, and the
call log that the simulated SDK writes.

    probe_cases.py --list [--platform native|windows]
    probe_cases.py --tool PATH --sdk-dir DIR [--platform P] [--launcher CMD] CASE...
"""

import argparse
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional

PALETTE = "official_palette_live.bin"
TEMPORARY = PALETTE + ".tmp"
LIBRARIES = ("ThermalSDK.dll", "CoreSDKLib.dll")
EXPORT_LIBRARY = {
    "Start": "ThermalSDK.dll",
    "Stop": "ThermalSDK.dll",
    "SetNewIRFrameDelegate": "ThermalSDK.dll",
    "MAG_GetOutputBMPdata": "CoreSDKLib.dll",
    "MAG_GetOutputBMPdataRGB24": "CoreSDKLib.dll",
}
SDK_DIRECTORY = r"C:\Project\ZED160O\IR_Camera_SDK-1.0.1\windows\windows\app"
NULL = "0" * 16
GARBAGE = "deadbeefcafef00d"
RUN_TIMEOUT = 60

# A 251-byte cycle (251 is prime) makes every offset into the 1,024-byte
# block distinct, so a palette read from the wrong place shows.
DISTINCT_BYTES = bytes((37 * i + 11) % 256 for i in range(251))


def hex_palette(pattern: bytes) -> str:
    return "hex:" + pattern.hex()


def repeat_to_block(pattern: bytes) -> bytes:
    return (pattern * (1024 // len(pattern) + 1))[:1024]


def listing(block: bytes, heading: str) -> str:
    lines = [heading]
    for entry in range(12):
        b = block[4 * entry:4 * entry + 4]
        lines.append(f"  {entry:2d}: {b[0]:3d} {b[1]:3d} {b[2]:3d} {b[3]:3d}\n")
    return "".join(lines)


# --- what a case sets up ------------------------------------------------------

def write_file(name: str, content: bytes) -> Callable[[str], None]:
    def prepare(work: str) -> None:
        with open(os.path.join(work, name), "wb") as f:
            f.write(content)
    return prepare


def make_link(name: str) -> Callable[[str], None]:
    """A symbolic link at name, pointing at a file that must stay as it is."""
    def prepare(work: str) -> None:
        write_file("elsewhere.bin", b"the target of a link")(work)
        os.symlink("elsewhere.bin", os.path.join(work, name))
    return prepare


def make_directory(name: str) -> Callable[[str], None]:
    def prepare(work: str) -> None:
        os.mkdir(os.path.join(work, name))
        with open(os.path.join(work, name, "keep"), "wb") as f:
            f.write(b"not to be touched")
    return prepare


def make_empty_directory(name: str) -> Callable[[str], None]:
    return lambda work: os.mkdir(os.path.join(work, name))


LINK_TARGET = "elsewhere.bin"


def earlier_palette_and_link_target(work: str) -> None:
    write_file(PALETTE, b"an earlier palette")(work)
    write_file(LINK_TARGET, b"the target of a link")(work)


@dataclass
class Case:
    name: str
    # Expected standard output. {buf0}..{buf4} stand for the pointer the SDK
    # left in the slot for that channel (read from its call log); {saved} and
    # {failed} for the heading, or failure line, and the twelve entry lines.
    stdout: str
    status: int = 0
    sdk: Dict[str, str] = field(default_factory=dict)
    palette: bytes = repeat_to_block(DISTINCT_BYTES)
    # "new": the file holds the palette afterwards; "kept": the working
    # directory is exactly as it was before the run; "either": "new" when
    # the run says it saved, "kept" when it says it failed, a link the SDK
    # planted at the temporary name aside.
    outcome: str = "new"
    prepare: Optional[Callable[[str], None]] = None
    # Where the libraries are: "beside" the executable, in the "working"
    # directory, in the SDK directory, or on LD_LIBRARY_PATH.
    layout: str = "beside"
    missing: tuple = ()          # libraries left out
    broken: tuple = ()           # libraries replaced by a file that is no library
    without_export: str = ""     # the library holding this export lacks it
    platforms: tuple = ("native", "windows")
    timing: bool = False         # also check that "Start=" comes before the pause
    # Hostile surroundings (POSIX only): standard output "closed" or "full"
    # (/dev/full), or "closed-early": a pipe whose reader goes once it has
    # the first line; a file size limit in bytes; a working directory the
    # tool may not write to.
    stdout_to: str = "pipe"
    file_size_limit: int = 0
    read_only_work: bool = False
    # Signals sent to the process (under wine, SIGINT is Ctrl-C): pairs of
    # milliseconds after the "Start=" line arrived, and the signal.
    signals: tuple = ()
    # Put before the launcher, e.g. strace injecting a signal at a call.
    wrapper: tuple = ()
    # Ended at once, without Stop: the SDK then may flag the camera left
    # running, and the run must end this soon after "Start=".
    camera_left_running: bool = False
    ends_within_seconds: float = 0.0
    # A folder that holds the tool's and the working directory, when not
    # the case's own scratch directory.
    folder: str = ""
    # Or one it may write to and enter but not list (nor flush).
    unreadable_work: bool = False


EXAMPLE_RUN = """Start=1
chan 0 gray rc=0 buf=0000000000000000
chan 1 gray rc=1 buf={buf1}
{saved}RGB24 rc=1
done
"""

NO_ANSWER = """Start=1
chan 0 gray rc=0 buf={buf0}
chan 1 gray rc=0 buf={buf1}
chan 2 gray rc=0 buf={buf2}
chan 3 gray rc=0 buf={buf3}
chan 4 gray rc=0 buf={buf4}
done
"""
SILENT_CHANNELS = {"CHANNEL_1": "0,null", "SLOT_GARBAGE": "1"}

CASES: List[Case] = [
    Case("example-run", EXAMPLE_RUN, timing=True),
    Case("answer-on-channel-0", """Start=1
chan 0 gray rc=1 buf={buf0}
{saved}RGB24 rc=1
done
""", sdk={"CHANNEL_0": "1,frame"}),
    Case("answer-on-channel-4", """Start=1
chan 0 gray rc=0 buf=deadbeefcafef00d
chan 1 gray rc=0 buf=deadbeefcafef00d
chan 2 gray rc=0 buf=deadbeefcafef00d
chan 3 gray rc=0 buf=deadbeefcafef00d
chan 4 gray rc=1 buf={buf4}
{saved}RGB24 rc=-7
done
""", sdk={"CHANNEL_1": "0,null", "CHANNEL_4": "1,frame", "SLOT_GARBAGE": "1",
          "RGB24_RESULT": "-7"}),
    # Non-zero with a null pointer, and zero with a pointer, do not answer.
    Case("answer-needs-result-and-pointer", """Start=1
chan 0 gray rc=5 buf=0000000000000000
chan 1 gray rc=0 buf={buf1}
chan 2 gray rc=-3 buf={buf2}
{saved}RGB24 rc=0
done
""", sdk={"CHANNEL_0": "5,null", "CHANNEL_1": "0,frame", "CHANNEL_2": "-3,frame",
          "SLOT_GARBAGE": "1", "RGB24_RESULT": "0"}),
    Case("no-answer", NO_ANSWER.replace("{buf0}", GARBAGE).replace("{buf1}", GARBAGE)
         .replace("{buf2}", GARBAGE).replace("{buf3}", GARBAGE).replace("{buf4}", GARBAGE),
         sdk=SILENT_CHANNELS, outcome="kept"),
    Case("no-answer-keeps-earlier-file", NO_ANSWER.format(**{f"buf{c}": NULL for c in range(5)}),
         sdk={"CHANNEL_1": "0,null"}, outcome="kept",
         prepare=write_file(PALETTE, b"an earlier palette")),
    Case("start-result-0", EXAMPLE_RUN.replace("Start=1", "Start=0"), sdk={"START_RESULT": "0"}),
    Case("start-result-255", EXAMPLE_RUN.replace("Start=1", "Start=255"),
         sdk={"START_RESULT": "255"}),
    # Only the low byte of Start's result is meaningful.
    Case("start-result-low-byte", EXAMPLE_RUN.replace("Start=1", "Start=254"),
         sdk={"START_RESULT": "0x7fffabfe"}),
    Case("palette-bytes-unchanged", """Start=1
chan 0 gray rc=0 buf=0000000000000000
chan 1 gray rc=1 buf={buf1}
saved official_palette_live.bin (first entries):
   0:  10  13  26   0
   1: 255  10  13  26
   2:   0 255  10  13
   3:  26   0 255  10
   4:  13  26   0 255
   5:  10  13  26   0
   6: 255  10  13  26
   7:   0 255  10  13
   8:  26   0 255  10
   9:  13  26   0 255
  10:  10  13  26   0
  11: 255  10  13  26
RGB24 rc=1
done
""", palette=repeat_to_block(bytes([0x0A, 0x0D, 0x1A, 0x00, 0xFF]))),
    Case("longer-earlier-file-replaced", EXAMPLE_RUN,
         prepare=write_file(PALETTE, bytes([0x77]) * 5000)),
    Case("stale-temporary-file-replaced", EXAMPLE_RUN,
         prepare=write_file(TEMPORARY, b"left over from an interrupted run")),
    # The plausible camera with nothing set: full frames, its own palette.
    Case("default-camera", EXAMPLE_RUN, palette=b"", sdk={"FRAME": "full", "PALETTE": ""}),
    # The file step fails: the earlier state stays exactly as it was.
    Case("palette-name-is-a-directory", EXAMPLE_RUN.replace("{saved}", "{failed}"), status=1,
         outcome="kept", prepare=make_directory(PALETTE)),
    Case("temporary-name-is-a-directory", EXAMPLE_RUN.replace("{saved}", "{failed}"), status=1,
         outcome="kept", prepare=make_directory(TEMPORARY)),
    # Only a stale file or link at the temporary name is removed.
    Case("temporary-name-is-an-empty-directory", EXAMPLE_RUN.replace("{saved}", "{failed}"),
         status=1, outcome="kept", prepare=make_empty_directory(TEMPORARY)),
    # Wine shows a POSIX symbolic link to Windows programs as the file it
    # points at, which no Windows link does; so these are native only.
    Case("palette-name-is-a-link", EXAMPLE_RUN, prepare=make_link(PALETTE),
         platforms=("native",)),
    Case("temporary-name-is-a-link", EXAMPLE_RUN, prepare=make_link(TEMPORARY),
         platforms=("native",)),
    # Someone re-creating a link at the temporary name whenever it is free,
    # all through the run: the save wins the name or fails, and never writes
    # through the link.
    Case("file-size-limit", EXAMPLE_RUN.replace("{saved}", "{failed}"), status=1,
         outcome="kept", prepare=write_file(PALETTE, b"an earlier palette"),
         file_size_limit=1000, platforms=("native",)),
    Case("read-only-working-directory", EXAMPLE_RUN.replace("{saved}", "{failed}"), status=1,
         outcome="kept", read_only_work=True, platforms=("native",)),
    # A directory that can't be flushed is found before the move, not after.
    Case("unreadable-working-directory", EXAMPLE_RUN.replace("{saved}", "{failed}"), status=1,
         outcome="kept", prepare=write_file(PALETTE, b"an earlier palette"),
         unreadable_work=True, platforms=("native",)),
    # Lost output is no reason to lose the palette or leave the camera running.
    Case("standard-output-closed", EXAMPLE_RUN, stdout_to="closed", platforms=("native",)),
    Case("standard-output-full", EXAMPLE_RUN, stdout_to="full", platforms=("native",)),
    # SDK threads calling the delegate flat out with garbage, all run long.
    Case("delegate-storm", EXAMPLE_RUN,
         sdk={"DELEGATE_THREADS": "2", "DELEGATE_INTERVAL_MS": "0", "DELEGATE_GARBAGE": "1"}),
    # The tool, its libraries and its working directory under a name that
    # no ANSI code page holds.
    Case("non-ascii-folders", EXAMPLE_RUN, folder="Jörg Привет 日本 😀"),
    # Signals during the pause must not shorten it.
    Case("pause-survives-signals", EXAMPLE_RUN, sdk={"INTERRUPT_MS": "50"}, timing=True,
         platforms=("native",)),
    # A reader that goes early makes no difference to the run or its status.
    Case("output-pipe-closed-early", EXAMPLE_RUN, stdout_to="closed-early"),
    Case("output-pipe-closed-early-save-fails", EXAMPLE_RUN.replace("{saved}", "{failed}"),
         status=1, outcome="kept", prepare=make_directory(PALETTE), stdout_to="closed-early"),
] + [
    # Ctrl-C or a signal to stop, during the pause: the camera is stopped,
    # the earlier palette kept, nothing more printed.
    Case(f"interrupt-in-pause-{name}", "Start=1\n", status=status, outcome="kept",
         prepare=write_file(PALETTE, b"an earlier palette"), signals=((500, number),),
         platforms=(platform,))
    for name, number, status, platform in (
        ("SIGINT", signal.SIGINT, 130, "native"),
        ("SIGTERM", signal.SIGTERM, 143, "native"),
        ("SIGHUP", signal.SIGHUP, 129, "native"),
        # wine makes SIGINT a Ctrl-C; Windows' status for it, STATUS_CONTROL_C_EXIT
        # (0xC000013A), reaches a Linux parent as its low byte.
        ("ctrl-c", signal.SIGINT, 0x3A, "windows"))
] + [
    # A second Ctrl-C ends the run at once, the camera perhaps left running.
    Case("second-interrupt-ends-at-once", "Start=1\n", status=status, outcome="kept",
         prepare=write_file(PALETTE, b"an earlier palette"),
         signals=((300, signal.SIGINT), (600, signal.SIGINT)), camera_left_running=True,
         ends_within_seconds=2.0, platforms=(platform,))
    for status, platform in ((-signal.SIGINT, "native"), (0x3A, "windows"))
] + [
    # A request that comes during a query (the simulated SDK raises the
    # signal there) is acted on before the next step: no further query, no
    # save, or, once saved, no RGB24 output.
    Case("interrupt-in-query", "Start=1\nchan 0 gray rc=0 buf=0000000000000000\n", status=130,
         outcome="kept", prepare=write_file(PALETTE, b"an earlier palette"),
         sdk={"RAISE_IN_QUERY": f"0,{int(signal.SIGINT)}"}, platforms=("native",)),
    Case("interrupt-in-answering-query", """Start=1
chan 0 gray rc=0 buf=0000000000000000
chan 1 gray rc=1 buf={buf1}
""", status=143, outcome="kept", prepare=write_file(PALETTE, b"an earlier palette"),
         sdk={"RAISE_IN_QUERY": f"1,{int(signal.SIGTERM)}"}, platforms=("native",)),
    # strace sends SIGINT as the save moves the file into place.
    Case("interrupt-after-save", """Start=1
chan 0 gray rc=0 buf=0000000000000000
chan 1 gray rc=1 buf={buf1}
{saved}""", status=130, prepare=write_file(PALETTE, b"an earlier palette"),
         wrapper=("strace", "--quiet=all", "-o", "/dev/null", "-e", "trace=rename,renameat,renameat2",
                  "-e", "inject=rename,renameat,renameat2:signal=SIGINT"),
         platforms=("native",)),
] + [
    # Someone re-creating a link at the temporary name whenever it is free,
    # all through the run: the save wins the name or fails, and never writes
    # through the link. The race is won now and then, so it runs three times.
    Case(f"link-replanted-at-temporary-name-{run}", EXAMPLE_RUN, outcome="either",
         sdk={"PLANT_LINK": TEMPORARY, "PLANT_LINK_TARGET": LINK_TARGET},
         prepare=earlier_palette_and_link_target, platforms=("native",))
    for run in (1, 2, 3)
] + [
    Case(f"missing-{library}", "", status=1, missing=(library,), outcome="kept")
    for library in LIBRARIES
] + [
    Case(f"broken-{library}", "", status=1, broken=(library,), outcome="kept")
    for library in LIBRARIES
] + [
    Case(f"missing-export-{export}", "", status=1, without_export=export, outcome="kept")
    for export in EXPORT_LIBRARY
] + [
    # Libraries in the working directory are never loaded from there.
    Case("libraries-only-in-working-directory", "", status=1, layout="working", outcome="kept"),
    Case("libraries-on-library-path", EXAMPLE_RUN, layout="library-path",
         platforms=("native",)),
    Case("libraries-only-in-sdk-directory", EXAMPLE_RUN, layout="sdk-directory",
         platforms=("windows",)),
]

# Cases that depend on what the shared SDK directory holds (or must not hold).
SDK_DIRECTORY_LOCKED = [c.name for c in CASES
                        if c.layout in ("sdk-directory", "working") or c.missing or c.broken
                        or c.without_export]


# --- running a case -----------------------------------------------------------

@dataclass
class Target:
    tool: str
    sdk_dir: str
    platform: str
    launcher: List[str]


def snapshot(directory: str) -> Dict[str, object]:
    """Every entry below directory: file contents, link targets, directories."""
    entries: Dict[str, object] = {}
    for root, dirs, files in os.walk(directory):
        for name in dirs + files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, directory)
            if os.path.islink(path):
                entries[relative] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                entries[relative] = ("directory",)
            else:
                with open(path, "rb") as f:
                    entries[relative] = ("file", f.read())
    return entries


NOBODY = 65534


def restrict_working_directory(root: str, work: str, log_path: str, mode: int) -> None:
    """Gives the working directory a mode that takes some access away from
    the tool. Root goes anywhere, so the tool then runs as nobody, which
    needs to reach its files and the SDK's log."""
    os.chmod(root, 0o755)
    with open(log_path, "wb"):
        pass
    os.chmod(log_path, 0o666)
    os.chmod(work, mode)


def windows_sdk_directory() -> str:
    if os.name == "nt":
        return SDK_DIRECTORY
    prefix = os.environ["WINEPREFIX"]
    return os.path.join(prefix, "drive_c", *SDK_DIRECTORY[3:].split("\\"))


def windows_path(path: str) -> str:
    """The path as a Windows program under wine sees it (drive Z: is /)."""
    return path if os.name == "nt" else "Z:" + path.replace("/", "\\")


def tool_and_work_dirs(case: Case, root: str) -> tuple:
    return (os.path.join(root, case.folder, "bin"), os.path.join(root, case.folder, "work"))


def lay_out(case: Case, target: Target, root: str) -> Dict[str, str]:
    """Places the tool and the libraries; returns extra environment."""
    tool_dir, work = tool_and_work_dirs(case, root)
    os.makedirs(tool_dir)
    os.makedirs(work)
    tool_name = os.path.basename(target.tool)
    shutil.copy2(target.tool, os.path.join(tool_dir, tool_name))
    library_dir = {
        "beside": tool_dir,
        "working": work,
        "library-path": os.path.join(root, "lib"),
        "sdk-directory": windows_sdk_directory() if target.platform == "windows" else "",
    }[case.layout]
    os.makedirs(library_dir, exist_ok=True)
    for library in LIBRARIES:
        source = os.path.join(target.sdk_dir, library)
        if case.without_export and EXPORT_LIBRARY[case.without_export] == library:
            source = os.path.join(target.sdk_dir, "without-" + case.without_export, library)
        destination = os.path.join(library_dir, library)
        if library in case.missing:
            continue
        if library in case.broken:
            with open(destination, "wb") as f:
                f.write(b"this is not a library\n" * 64)
        else:
            shutil.copy2(source, destination)
    return {"LD_LIBRARY_PATH": library_dir} if case.layout == "library-path" else {}


def parse_log(path: str) -> List[List[str]]:
    if not os.path.exists(path):
        return []
    with open(path, "r", encoding="ascii") as f:
        return [line.split() for line in f.read().splitlines()]


def fields(words: List[str]) -> Dict[str, str]:
    return dict(word.split("=", 1) for word in words[1:] if "=" in word)


class Failure(Exception):
    pass


def check(condition: bool, message: str) -> None:
    if not condition:
        raise Failure(message)


def check_log(case: Case, log: List[List[str]], stdout: str) -> Dict[str, str]:
    """Checks the SDK's view of the run; returns the pointers it handed out."""
    breaches = [" ".join(words) for words in log if words[0] == "BREACH"]
    if case.camera_left_running:
        breaches = [b for b in breaches if b != "BREACH camera used but Stop called 0 times"]
    check(not breaches, "the SDK flagged contract breaches:\n  " + "\n  ".join(breaches))
    loaded = [words[1] for words in log if words[0] == "loaded"]
    present = [lib for lib in LIBRARIES if lib not in case.missing and lib not in case.broken]
    if case.layout == "working":
        present = []
    check(loaded == present, f"libraries loaded {loaded}, expected {present}")
    calls = [words for words in log if words[0] not in ("loaded", "unloaded", "BREACH")]
    if case.status == 1 and not stdout:
        check(not calls, f"SDK functions called although the SDK was not bound: {calls}")
        return {}

    # The calls follow from the expected lines: one query per "chan" line,
    # the RGB24 output for the last one when it answered, then Stop.
    queried = [int(c) for c in re.findall(r"^chan (\d) ", stdout, re.M)]
    expected = ["SetNewIRFrameDelegate", "Start"] + ["MAG_GetOutputBMPdata"] * len(queried)
    if "RGB24 rc=" in stdout:
        expected.append("MAG_GetOutputBMPdataRGB24")
    if not case.camera_left_running:
        expected.append("Stop")
    check([words[0] for words in calls] == expected,
          f"SDK calls {[words[0] for words in calls]}, expected {expected}")
    pointers = {}
    for channel, words in zip(queried, calls[2:]):
        values = fields(words)
        check(values["channel"] == str(channel), f"queried channel {values['channel']}, "
              f"expected {channel}")
        check(values["info-in"] == "0" and values["buf-in"] == NULL,
              f"slots not reset before querying channel {channel}: {values}")
        pointers[f"buf{channel}"] = values["buf"]
    if "RGB24 rc=" in stdout:
        values = fields(calls[-2])
        check(values == {"channel": str(queried[-1]), "size": "57600", "flag": "1",
                         "result": values["result"]}, f"RGB24 call {values}")
    if not case.camera_left_running:
        check(fields(calls[-1]).get("delegate-calls") == "some",
              "the SDK's threads never got to call the delegate")
    return pointers


def expected_palette(case: Case, work: str) -> bytes:
    if case.palette:
        return case.palette
    # The simulated camera's own scale: checked for its ends, then trusted.
    with open(os.path.join(work, PALETTE), "rb") as f:
        block = f.read()
    check(block[:4] == bytes([0, 0, 0, 0]) and block[-4:] == bytes([255, 255, 255, 0]),
          "the default palette does not run from black to white")
    return block


def run_case(case: Case, target: Target) -> None:
    root = tempfile.mkdtemp(prefix=f"probe-{case.name}-")
    try:
        extra_env = lay_out(case, target, root)
        tool_dir, work = tool_and_work_dirs(case, root)
        if case.prepare:
            case.prepare(work)
        before = snapshot(work)
        log_path = os.path.join(root, "sdk.log")
        env = {k: v for k, v in os.environ.items() if not k.startswith("SIMSDK_")}
        env.update(extra_env)
        settings = {"FRAME": "tight", "PALETTE": hex_palette(case.palette or b"")}
        settings.update(case.sdk)
        for key, value in settings.items():
            if value:
                env["SIMSDK_" + key] = value
        env["SIMSDK_LOG"] = windows_path(log_path) if target.platform == "windows" else log_path
        if case.wrapper:
            # LeakSanitizer can't run under ptrace; the rest of ASan can.
            env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        command = (list(case.wrapper) + target.launcher
                   + [os.path.join(tool_dir, os.path.basename(target.tool))])

        restricted = case.read_only_work or case.unreadable_work
        if restricted:
            restrict_working_directory(root, work, log_path,
                                       0o555 if case.read_only_work else 0o333)
        stdout_sink = subprocess.PIPE
        if case.stdout_to == "full":
            stdout_sink = open("/dev/full", "wb")
        elif case.stdout_to == "closed":
            stdout_sink = subprocess.DEVNULL

        def set_up_child() -> None:
            if case.stdout_to == "closed":
                os.close(1)
            if case.file_size_limit:
                import resource
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (case.file_size_limit,) * 2)
            if restricted and os.geteuid() == 0:
                os.setgid(NOBODY)
                os.setuid(NOBODY)

        hostile = case.stdout_to in ("closed", "full") or case.file_size_limit or restricted
        started = time.monotonic()
        # Unbuffered, so reading the first line takes nothing more than it.
        process = subprocess.Popen(command, cwd=work, env=env, stdin=subprocess.DEVNULL,
                                   stdout=stdout_sink, stderr=subprocess.PIPE, bufsize=0,
                                   preexec_fn=set_up_child if hostile else None)
        first_line = process.stdout.readline() if process.stdout else b""
        first_line_at = time.monotonic()
        if case.stdout_to == "closed-early":
            process.stdout.close()
            process.stdout = None
        for after_ms, signal_number in case.signals:
            time.sleep(max(0.0, first_line_at + after_ms / 1000 - time.monotonic()))
            process.send_signal(signal_number)
        rest, stderr = process.communicate(timeout=RUN_TIMEOUT)
        ended = time.monotonic()
        if case.stdout_to == "full":
            stdout_sink.close()
        stdout_bytes = first_line + (rest or b"")
        if restricted:
            os.chmod(work, 0o755)

        if target.platform == "windows":
            check(b"\n" not in stdout_bytes.replace(b"\r\n", b""),
                  "a line on the console did not end in CR LF")
            stdout_bytes = stdout_bytes.replace(b"\r\n", b"\n")
        stdout = stdout_bytes.decode("ascii", errors="replace")
        log = parse_log(log_path)
        pointers = check_log(case, log, case.stdout)

        after = snapshot(work)
        expected_after = dict(before)
        replacements = dict(pointers)
        outcome = case.outcome
        expected_status = case.status
        if outcome == "either":
            saved = f"saved {PALETTE} " in stdout
            outcome, expected_status = ("new", 0) if saved else ("kept", 1)
            case_stdout = case.stdout if saved else case.stdout.replace("{saved}", "{failed}")
        else:
            case_stdout = case.stdout
        if outcome == "new":
            block = expected_palette(case, work)
            expected_after[PALETTE] = ("file", block)
            expected_after.pop(TEMPORARY, None)
            replacements["saved"] = listing(block, f"saved {PALETTE} (first entries):\n")
        else:
            block = case.palette or b""
            replacements["failed"] = listing(block, f"failed to save {PALETTE}\n")
        if case.outcome == "either" and after.get(TEMPORARY) == ("link", LINK_TARGET):
            expected_after[TEMPORARY] = after[TEMPORARY]  # the SDK's own link
        expected_stdout = case_stdout.format(**{f"buf{c}": NULL for c in range(5)}
                                             | replacements)

        check(stderr == b"", "standard error not empty:\n" + stderr.decode(errors="replace"))
        if case.stdout_to == "closed-early":
            expected_stdout = expected_stdout[:expected_stdout.find("\n") + 1]
        elif case.stdout_to != "pipe":
            expected_stdout = ""
        check(stdout == expected_stdout,
              f"standard output differs\n--- expected\n{expected_stdout}--- got\n{stdout}")
        check(process.returncode == expected_status,
              f"exit status {process.returncode}, expected {expected_status}")
        changed = sorted(k for k in set(before) | set(after) | set(expected_after)
                         if after.get(k) != expected_after.get(k))
        check(not changed, f"working directory differs from what was expected in {changed}: "
              + "; ".join(f"{k}: {str(after.get(k))[:80]}" for k in changed))
        if case.timing:
            # The line is flushed before the 3 s pause, even into a pipe.
            check(first_line.startswith(b"Start="), f"first line {first_line!r}")
            check(ended - first_line_at >= 2.5,
                  f"'Start=' arrived only {ended - first_line_at:.2f} s before the end")
            check(ended - started >= 3.0, f"the run took only {ended - started:.2f} s")
        if case.ends_within_seconds:
            check(ended - first_line_at < case.ends_within_seconds,
                  f"the run ended {ended - first_line_at:.2f} s after 'Start='")
    finally:
        if os.environ.get("PROBE_KEEP_CASES"):
            print(f"kept {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
            if case.layout == "sdk-directory" and target.platform == "windows":
                shutil.rmtree(windows_sdk_directory(), ignore_errors=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", action="store_true", help="print case names and exit")
    parser.add_argument("--list-sdk-directory-cases", action="store_true")
    parser.add_argument("--platform", default="native", choices=("native", "windows"))
    parser.add_argument("--tool")
    parser.add_argument("--sdk-dir")
    parser.add_argument("--launcher", default="", help="command that runs the tool, e.g. wine")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args()
    chosen = [c for c in CASES if args.platform in c.platforms]
    if args.list or args.list_sdk_directory_cases:
        for case in chosen:
            if args.list or case.name in SDK_DIRECTORY_LOCKED:
                print(case.name)
        return 0
    target = Target(os.path.abspath(args.tool), os.path.abspath(args.sdk_dir), args.platform,
                    shlex.split(args.launcher))
    by_name = {c.name: c for c in chosen}
    failed = 0
    for name in args.cases or list(by_name):
        try:
            run_case(by_name[name], target)
            print(f"ok {name}")
        except (Failure, subprocess.TimeoutExpired) as error:
            failed += 1
            print(f"FAILED {name}: {error}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
