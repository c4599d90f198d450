#!/usr/bin/env bash
# Times one install under Wine against Wine copying the same bytes, and prints both and their
# ratio: the installer's own work (reading itself, the CRC, decoding, the temporary files, the
# version check, the copy into place) should cost at most as much again as the copy.
#   bench/setup/install-bench.sh [RUNS]      (needs a win64 build: scripts/test.sh win64)
# The installer packs a 6 MiB start program: the demo's, with executable code from the build's
# other programs behind its image, so it keeps its version resource and compresses like a program.
# It runs the 64-bit build with the 64-bit Wine loader, natively: where 32-bit programs run only
# through an emulator (scripts/setup-wine32.sh), timings of them would measure the emulator and
# mean nothing, so no benchmark runs the win32 build.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-5}
build=$PWD/build/win64
kvpack=$build/host/bin/kvpack
[ -x "$kvpack" ] || kvpack=$PWD/build/native/bin/kvpack
for f in "$build/bin/setup.exe" "$build/demo/OrvaneKavariStart.exe" "$kvpack"; do
  [ -e "$f" ] || { echo "install-bench: $f is missing; build the win64 preset first" >&2; exit 1; }
done

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# `wine` names the 32-bit loader once the 32-bit Wine is installed: the 64-bit one, by name.
wine=wine
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
wineserver -p 2>/dev/null || true
"$wine" wineboot -i >/dev/null 2>&1 || true
work=$(mktemp -d)
installed="$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Local/KavariBench"
cleanup() { rm -rf "$work" "$installed"; }
trap cleanup EXIT

size=$((6 * 1024 * 1024))
cat "$build/demo/OrvaneKavariStart.exe" > "$work/program"
while [ "$(wc -c < "$work/program")" -lt "$size" ]; do cat "$build"/bin/*.exe >> "$work/program"; done
head -c "$size" "$work/program" > "$work/OrvaneKavariStart.exe"
# No follow-up program: the run measures installing, not starting what was installed.
printf 'Path=#currentappdata#\\KavariBench\n' > "$work/extaction.bin"
"$kvpack" build --stub "$build/bin/setup.exe" --test-stub -o "$work/bench-setup.exe" \
  "$work/extaction.bin" "$work/OrvaneKavariStart.exe" .= >/dev/null
source_w=$("$wine" winepath -w "$work/OrvaneKavariStart.exe")
copy_w=$("$wine" winepath -w "$work/copy.exe")

seconds() { # seconds COMMAND...: wall time of one run
  local start end
  start=$(date +%s.%N)
  # Into a file, not /dev/null: Wine's C runtime takes a character device for a console and
  # writes the decoder's progress lines one by one (6,144 of them, about 4 s), where a GUI
  # program started on Windows has no standard output at all.
  "$@" >"$work/output" 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
best_install= best_copy=
for ((i = 0; i < runs; ++i)); do
  rm -rf "$installed" "$work/copy.exe"
  t=$(seconds "$wine" "$work/bench-setup.exe")
  # Windows names are case-blind, and the installer may write the name in another case.
  cmp -s "$work/OrvaneKavariStart.exe" "$(find "$installed" -maxdepth 1 -iname OrvaneKavariStart.exe)" ||
    { echo "install-bench: the installer did not install the start program" >&2; exit 1; }
  best_install=$(awk -v t="$t" -v b="$best_install" 'BEGIN { print (b == "" || t < b) ? t : b }')
  t=$(seconds "$wine" cmd /c copy /b /y "$source_w" "$copy_w")
  best_copy=$(awk -v t="$t" -v b="$best_copy" 'BEGIN { print (b == "" || t < b) ? t : b }')
done
printf 'installer, 6 MiB start program: %.3f s (best of %d)\n' "$best_install" "$runs"
printf 'wine cmd copy of the same bytes: %.3f s (best of %d)\n' "$best_copy" "$runs"
printf 'ratio: %.2fx (aim: at most 2x)\n' "$(awk -v a="$best_install" -v b="$best_copy" 'BEGIN { print a / b }')"
