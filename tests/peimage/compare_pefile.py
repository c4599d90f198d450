#!/usr/bin/env python3
"""Compares the image reader, through peimage_dump, with Debian's python3-pefile on executables
that nobody here wrote (Wine's 64-bit DLLs and programs, the 32-bit DLLs of the mingw-w64
packages) and on the test images.

    compare_pefile.py DUMP IMAGES_DIR [RUNNER...]

RUNNER (scripts/wine-run PREFIX) runs a Windows build of DUMP; paths are then given as Z:\\...
Exit 0 when both readers agree on every file, 1 on a difference, 77 (skipped) when pefile or the
sample executables are missing."""

import glob
import os
import subprocess
import sys

SKIPPED = 77
WINE_DIRS = ["/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"]
I686_DLLS = ["/usr/i686-w64-mingw32/lib/libwinpthread-1.dll", "/usr/i686-w64-mingw32/lib/zlib1.dll"]
SAMPLE_COUNT = 40
MAX_TEXT_UNITS = 1023  # longer keys and values count as empty for the reader

try:
    import pefile
except ImportError:
    print("compare_pefile: python3-pefile is not installed (scripts/bootstrap.sh installs it); skipped")
    sys.exit(SKIPPED)


def expected(path):
    """What the reader must answer: machine, the first version resource's two fixed versions, and
    the first string table of its first child when that child is StringFileInfo (else None)."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    machine = "%04x" % pe.FILE_HEADER.Machine
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return machine, "", "", {}
    f = fixed[0]
    dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = None
    info = getattr(pe, "FileInfo", None)
    if info and info[0] and info[0][0].Key == b"StringFileInfo" and info[0][0].StringTable:
        strings = {}
        for key, value in info[0][0].StringTable[0].entries.items():
            key, value = key.decode("utf-8"), value.decode("utf-8")
            if len(key.encode("utf-16-le")) // 2 > MAX_TEXT_UNITS:
                continue
            strings.setdefault(key, "" if len(value.encode("utf-16-le")) // 2 > MAX_TEXT_UNITS else value)
    return (machine, dotted(f.FileVersionMS, f.FileVersionLS), dotted(f.ProductVersionMS, f.ProductVersionLS),
            strings)


def samples(images_dir):
    files = []
    for d in WINE_DIRS:
        candidates = sorted(glob.glob(os.path.join(d, "*.dll")) + glob.glob(os.path.join(d, "*.exe")))
        with_version = [p for p in candidates if expected_cached(p)[1]]
        # Spread over the whole list, so every run meets the same few dozen of all kinds.
        step = max(1, len(with_version) // SAMPLE_COUNT)
        files += with_version[::step][:SAMPLE_COUNT]
    files += [p for p in I686_DLLS if os.path.exists(p)]
    files += sorted(glob.glob(os.path.join(images_dir, "*.dll")))
    return files


_cache = {}


def expected_cached(path):
    if path not in _cache:
        _cache[path] = expected(path)
    return _cache[path]


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def main():
    dump, images_dir, runner = sys.argv[1], sys.argv[2], sys.argv[3:]
    files = samples(images_dir)
    if not any(f.startswith(WINE_DIRS[0]) for f in files):
        print("compare_pefile: no Wine DLLs found in %s (the wine64 package brings them); skipped" % WINE_DIRS[0])
        sys.exit(SKIPPED)
    keys = sorted({k for f in files for k in (expected_cached(f)[3] or {})})
    # Letter case must not matter, and a missing key answers empty.
    queried = keys + ["COMPANYNAME", "NoSuchKey"]
    shown = {f: ("Z:" + f.replace("/", "\\")) if runner else f for f in files}
    run = subprocess.run(runner + [dump, ",".join(queried)] + [shown[f] for f in files], stdout=subprocess.PIPE)
    if run.returncode == SKIPPED:  # the runner cannot run this build here (32-bit Wine missing)
        print("compare_pefile: %s cannot run here; skipped" % dump)
        return SKIPPED
    if run.returncode != 0:
        print("compare_pefile: %s failed with status %d" % (dump, run.returncode))
        return 1
    output = run.stdout.decode("utf-8")
    lines = [line.rstrip("\r") for line in output.split("\n") if line.strip()]
    got = {}
    for line in lines:
        fields = line.split("\t")
        got[fields[0]] = [unescape(x) for x in fields[1:]]

    differences = 0
    for f in files:
        machine, file_version, product_version, strings = expected_cached(f)
        answer = got.get(shown[f])
        want = [machine, file_version, product_version]
        if strings is not None:
            lower = {k.lower(): v for k, v in strings.items()}
            want += [strings.get(k, "") for k in keys] + [lower.get("companyname", ""), ""]
        else:
            want += [None] * len(queried)
        if answer is None or len(answer) != len(want) or any(
                w is not None and a != w for a, w in zip(answer, want)):
            differences += 1
            print("DIFFERENT %s\n  pefile: %r\n  reader: %r" % (f, want, answer))
    print("compare_pefile: %d files, %d version string keys, %d differences" % (len(files), len(keys), differences))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
