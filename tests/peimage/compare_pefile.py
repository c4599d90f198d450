#!/usr/bin/env python3
"""Compares the image reader, through peimage_dump, with Debian's python3-pefile on executables
that nobody here wrote (40 of Wine's 64-bit DLLs and programs, the 32-bit DLLs of the mingw-w64
packages) and on the test images: machine, both fixed versions, every string of the first table.

    compare_pefile.py DUMP IMAGES_DIR [RUNNER...]

RUNNER (scripts/wine-run PREFIX) runs a Windows build of DUMP, given paths as Z:\\...
Exit 0 when the readers agree, 1 on a difference, 77 (skipped) when pefile, Wine's DLLs or a
runner for DUMP are missing."""

import functools
import glob
import subprocess
import sys

SKIPPED = 77
WINE_DIR = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
I686_DLLS = ["/usr/i686-w64-mingw32/lib/libwinpthread-1.dll", "/usr/i686-w64-mingw32/lib/zlib1.dll"]
SAMPLE_COUNT = 40
MAX_TEXT_UNITS = 1023  # longer keys and values count as empty for the reader

try:
    import pefile
except ImportError:
    print("compare_pefile: python3-pefile is not installed (scripts/bootstrap.sh installs it); skipped")
    sys.exit(SKIPPED)


@functools.lru_cache(maxsize=None)
def expected(path):
    """Machine, the first version resource's file and product versions, and the first string
    table of its StringFileInfo (keys and values too long for the reader left out or empty)."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    machine = "%04x" % pe.FILE_HEADER.Machine
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return machine, "", "", {}
    f = pe.VS_FIXEDFILEINFO[0]
    dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    units = lambda text: len(text.encode("utf-16-le")) // 2
    strings = {}
    info = [c for c in (getattr(pe, "FileInfo", None) or [[]])[0] if c.Key == b"StringFileInfo"]
    if info and info[0].StringTable:
        for key, value in info[0].StringTable[0].entries.items():
            key, value = key.decode("utf-8"), value.decode("utf-8")
            if units(key) <= MAX_TEXT_UNITS:
                strings.setdefault(key, value if units(value) <= MAX_TEXT_UNITS else "")
    return machine, dotted(f.FileVersionMS, f.FileVersionLS), dotted(f.ProductVersionMS, f.ProductVersionLS), strings


def main():
    dump, images_dir, runner = sys.argv[1], sys.argv[2], sys.argv[3:]
    wine = [p for p in sorted(glob.glob(WINE_DIR + "/*.dll") + glob.glob(WINE_DIR + "/*.exe")) if expected(p)[1]]
    if not wine:
        print("compare_pefile: no Wine DLLs in %s (the wine64 package brings them); skipped" % WINE_DIR)
        return SKIPPED
    # Spread over the whole list, so every run meets the same few dozen of all kinds.
    files = wine[:: max(1, len(wine) // SAMPLE_COUNT)][:SAMPLE_COUNT]
    files += [p for p in I686_DLLS if glob.glob(p)] + sorted(glob.glob(images_dir + "/*.dll"))
    keys = sorted({k for f in files for k in expected(f)[3]})
    # Letter case must not matter, and a missing key answers empty.
    queried = keys + ["COMPANYNAME", "NoSuchKey"]
    shown = {f: ("Z:" + f.replace("/", "\\")) if runner else f for f in files}
    run = subprocess.run(runner + [dump, ",".join(queried)] + [shown[f] for f in files], stdout=subprocess.PIPE)
    if run.returncode == SKIPPED:
        print("compare_pefile: %s cannot run here; skipped" % dump)
        return SKIPPED
    if run.returncode != 0:
        print("compare_pefile: %s failed with status %d" % (dump, run.returncode))
        return 1
    unescape = lambda text: text.replace("\\\\", "\0").replace("\\t", "\t").replace("\\n", "\n") \
        .replace("\\r", "\r").replace("\0", "\\")
    got = {}
    for line in run.stdout.decode("utf-8").splitlines():
        fields = line.rstrip("\r").split("\t")
        got[fields[0]] = [unescape(x) for x in fields[1:]]

    differences = 0
    for f in files:
        machine, file_version, product_version, strings = expected(f)
        lower = {k.lower(): v for k, v in strings.items()}
        want = [machine, file_version, product_version] + [strings.get(k, "") for k in keys] + \
            [lower.get("companyname", ""), ""]
        if got.get(shown[f]) != want:
            differences += 1
            print("DIFFERENT %s\n  pefile: %r\n  reader: %r" % (f, want, got.get(shown[f])))
    print("compare_pefile: %d files, %d version string keys, %d differences" % (len(files), len(keys), differences))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
