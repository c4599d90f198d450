#!/usr/bin/env bash
# The whole system once: sets up what is missing, builds the shipped demo installer
# build/win32/demo/KavariSetup.exe, verifies and lists it, installs it under Wine in the project's
# own prefix from a download folder, as users do, and shows what happened: the installed files
# with sizes and versions, the plug-in copies, the start program's record of its start, and the
# run's trace records through kvtrace. Where the 32-bit Wine cannot be set up, the same items are
# packed behind the 64-bit setup.exe and that installer runs instead.
# The terminal shows one line per step and then the results; apt, CMake, compiler and Wine output
# goes to build/demo.log.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
echo "Kavari add-on setup demo (tool output: $KV_LOG)"

scripts/bootstrap.sh
# demo_package builds setup.exe, the start program, the plug-in module and a kvpack for this
# machine (build/win32/host/bin/kvpack), and packs the items in the order the installer takes them.
step "Building the shipped installer build/win32/demo/KavariSetup.exe" \
  bash -c 'cmake --preset win32 && cmake --build --preset win32 --target demo_package kvtrace'
kvpack=build/win32/host/bin/kvpack
echo
echo "--- kvpack verify build/win32/demo/KavariSetup.exe"
$kvpack verify build/win32/demo/KavariSetup.exe
echo
echo "--- kvpack list build/win32/demo/KavariSetup.exe"
$kvpack list build/win32/demo/KavariSetup.exe
echo

preset=win32
if ! scripts/setup-wine32.sh --check 2>/dev/null; then
  echo "This machine cannot run 32-bit programs (scripts/setup-wine32.sh failed, see $KV_LOG):"
  echo "the same items go behind the 64-bit setup.exe instead."
  preset=win64
  step "Building the 64-bit installer build/win64/demo/KavariSetup.exe" \
    bash -c 'cmake --preset win64 && cmake --build --preset win64 --target demo_package kvtrace'
fi
run=("$PWD/scripts/wine-run" "$PWD/build/$preset/wineprefix")
export WINEPREFIX=$PWD/build/$preset/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit loader makes a prefix of both widths and answers the questions below.
wine64=wine
[ -x /usr/lib/wine/wine64 ] && wine64=/usr/lib/wine/wine64
# A persistent server (it needs the prefix folder to exist) keeps the many short starts below
# quick and none of them meeting a server that is shutting down; it ends with the demo.
prepare_prefix() {
  mkdir -p "$WINEPREFIX"
  wineserver -p || [ $? -eq 2 ] # 2: one runs already
  trap 'wineserver -k 2>/dev/null || true' EXIT
  "$wine64" wineboot -i
}
step "Preparing the Wine prefix build/$preset/wineprefix" prepare_prefix
windows_folder() { "$wine64" winepath -u "$("$wine64" cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')" 2>/dev/null; }
profile=$(windows_folder USERPROFILE)
local_data=$(windows_folder LOCALAPPDATA)
roaming=$(windows_folder APPDATA)
temp=$(windows_folder TEMP)
# A fresh start: what an earlier run installed, and its trace files.
rm -rf "$local_data/Kavari" "$local_data/Google/Chrome/Application/Plugins/npkvdpx.dll" "$roaming/Mozilla/plugins/npkvdpx.dll"
rm -f "$temp"/kvrtra_*.kvl
# Run from a download folder, as users do.
downloads=build/$preset/demo-run/Downloads
mkdir -p "$downloads"
cp "build/$preset/demo/KavariSetup.exe" "$downloads/"
printf '%s ... ' "Running build/$preset/demo-run/Downloads/KavariSetup.exe ($([ $preset = win32 ] && echo 32 || echo 64)-bit) under Wine"
status=0
(cd "$downloads" && "${run[@]}" KavariSetup.exe >>"$KV_LOG" 2>&1) || status=$?
if [ "$status" -eq 0 ]; then
  echo "exited with 0 (always: the installer reports only through its trace)"
else
  echo "failed to run (exit $status); Wine's output is in $KV_LOG"
  exit 1
fi
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
echo "--- The run's trace records (kvtrace dump)"
for trace in "$temp"/kvrtra_*.kvl; do
  "${run[@]}" "build/$preset/bin/kvtrace.exe" dump "$("$wine64" winepath -w "$trace" 2>/dev/null)" | tr -d '\r'
done
