#!/usr/bin/env bash
# The whole system once: sets up what is missing, builds the shipped (win32) demo installer
# build/win32/demo/KavariSetup.exe and verifies and lists it; then builds the same installer over
# the 64-bit setup.exe (this machine runs no 32-bit code), runs it under Wine in the project's own
# prefix and shows what happened: the installed files with sizes and versions, the plug-in copies,
# the start program's record of its start, and the run's trace records through kvtrace.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
echo "=== The shipped installer (win32)"
cmake --preset win32 >/dev/null
# demo_package builds setup.exe, the start program, the plug-in module and a kvpack for this
# machine (build/win32/host/bin/kvpack), and packs the items in the order the installer takes them.
cmake --build --preset win32 --target demo_package
kvpack=build/win32/host/bin/kvpack
$kvpack verify build/win32/demo/KavariSetup.exe
$kvpack list build/win32/demo/KavariSetup.exe

echo
echo "=== The same package over the 64-bit setup.exe, run under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target demo_package kvtrace
export WINEPREFIX=$PWD/build/win64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p 2>/dev/null || true
wineboot -i >/dev/null 2>&1 || true
profile=$(winepath -u "$(wine cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')")
local_data=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
roaming=$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')")
# A fresh start: what an earlier run installed, and its trace files.
rm -rf "$local_data/Kavari" "$local_data/Google/Chrome/Application/Plugins/npkvdpx.dll" "$roaming/Mozilla/plugins/npkvdpx.dll"
rm -f "$temp"/kvrtra_*.kvl
# Run from a download folder, as users do.
downloads=build/win64/demo-run/Downloads
mkdir -p "$downloads"
cp build/win64/demo/KavariSetup.exe "$downloads/"
status=0
(cd "$downloads" && wine KavariSetup.exe >/dev/null) || status=$?
echo "KavariSetup.exe exited with $status (always 0: the installer reports only through its trace)"
# The start program runs on its own; give it a moment to write its record.
for _ in $(seq 50); do [ -s "$local_data/Kavari/OrvaneKavariStart.record" ] && break; sleep 0.1; done

echo
echo "--- Installed (size, version, path in the profile)"
show_files() {
python3 - "$profile" "$@" <<'PY'
import os, struct, sys
# The version resource's fixed part: its signature 0xFEEF04BD, the structure version, then the
# file version as two 32-bit words.
def version(data):
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0 or at + 16 > len(data):
        return "-"
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
profile = sys.argv[1]
for path in sys.argv[2:]:
    with open(path, "rb") as f:
        data = f.read()
    print("%10d  %-9s  %s" % (len(data), version(data) if data[:2] == b"MZ" else "-", os.path.relpath(path, profile)))
PY
}
show_files "$local_data/Kavari"/*
echo
echo "--- Plug-in copies"
mapfile -t plugins < <(find "$profile" -name npkvdpx.dll | sort)
show_files "${plugins[@]}"
echo
echo "--- The start program's record of its start (its command line)"
cat "$local_data/Kavari/OrvaneKavariStart.record"
echo
echo "--- The run's trace records"
for trace in "$temp"/kvrtra_*.kvl; do
  wine build/win64/bin/kvtrace.exe dump "$(winepath -w "$trace")"
done
