#!/usr/bin/env bash
# Times installs under Wine against Wine copying the same bytes, and prints both and their ratio:
# - a 6 MiB start program: the installer's own work (reading itself, the CRC, decoding, the
#   temporary files, the version check, the copy into place) should cost at most as much again as
#   the copy;
# - a 192 MiB item: also the peak memory of both (a package of any size should need at most
#   64 MiB) and the install's time split by its trace records, where no phase but decoding should
#   cost more than one copy of the bytes; each phase is shown beside the same step on the copy:
#   writing the bytes (the copy), putting them on disk (the copy flushed) or giving their room
#   back (the copy removed).
#   bench/setup/install-bench.sh [RUNS [BIG_RUNS]]   (needs a win64 build: scripts/test.sh win64)
# The items compress like programs: the demo start program, then the build's other programs
# behind its image, so it keeps its version resource.
# Both run the 64-bit build with the 64-bit Wine loader, natively: where 32-bit programs run only
# through an emulator (scripts/setup-wine32.sh), their timings would measure the emulator.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-5}
big_runs=${2:-2}
build=$PWD/build/win64
kvpack=$build/host/bin/kvpack
[ -x "$kvpack" ] || kvpack=$PWD/build/native/bin/kvpack
for f in "$build/bin/setup.exe" "$build/bin/kvtrace.exe" "$build/demo/OrvaneKavariStart.exe" "$kvpack" /usr/bin/time; do
  [ -e "$f" ] || { echo "install-bench: $f is missing; build the win64 preset first" >&2; exit 1; }
done
. tests/setup/win32/install-run.sh

work=$(mktemp -d)
installed=
cleanup() {
  kv_wine_stop
  rm -rf "$work"
  [ -z "$installed" ] || rm -rf "$installed"
}
trap cleanup EXIT
kv_wine_start "$build/wineprefix"
installed="$KV_PROFILE/AppData/Local/KavariBench"

program() { # program SIZE OUT: the demo start program with the build's programs behind it
  cat "$build/demo/OrvaneKavariStart.exe" >"$2"
  while [ "$(stat -c %s "$2")" -lt "$1" ]; do cat "$build"/bin/*.exe >>"$2"; done
  truncate -s "$1" "$2"
}
# No follow-up program: the runs measure installing, not starting what was installed.
printf 'Path=#currentappdata#\\KavariBench\n' >"$work/extaction.bin"

# The machines these run on hand memory back to their host about two seconds after it is freed
# (free page reporting), and writing into such memory costs a fault in the host for each page: a
# copy of 192 MiB here takes 0.24 to 0.32 s into it, 0.10 to 0.12 s into memory freed a moment
# before. A command right after another's removal would get the warm memory, so every measured
# command starts after the same idle pause and finds the same state.
settle() { sleep 3; }

# measure OUT COMMAND...: runs the command once, after settle, and sets `started` (date +%s.%N),
# `seconds` (wall) and `peak` (MiB, the largest resident set of the process: Wine's loader becomes
# the Windows program it starts).
measure() {
  local out=$1
  shift
  settle
  started=$(kv_now)
  # Into a file, not /dev/null: Wine's C runtime takes a character device for a console and
  # writes the decoder's progress lines one by one, where a GUI program has no output at all.
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >"$out" 2>&1 9>&-
  seconds=$(kv_seconds_since "$started")
  peak=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/rss")
}
best() { awk -v t="$1" -v b="$2" 'BEGIN { print (b == "" || t < b) ? t : b }'; }

# phases: an install's trace records (then the process's end) on stdin, its time by phase out, a
# "PHASE<tab>SECONDS" line each. Each record's time runs to the next record and goes to the phase
# the record opens; after the last item's record comes the payload's removal.
phases() {
  awk '
    function phase(text) {
      if (text ~ />>Uncompress/) return "decoding"
      if (text ~ /ForceCopyFile|[Rr]ename|[Ss]wap|[Rr]eplace/) return "flush and swap"
      if (text ~ />>Installing/) return "the copy"
      if (text ~ /data-size|extract-folder/) return "data block to Temp"
      if (text ~ /begin|source|GetPEFileSize|starting/) return "package read"
      return "other"
    }
    { t[NR] = $1; text[NR] = $0; if ($0 ~ />>processing/) last = NR }
    END {
      n = NR - 1
      if (n < 1) exit
      spent["process start"] = t[1]
      for (i = 1; i <= n; ++i) spent[i == last ? "payload removal" : phase(text[i])] += t[i + 1] - t[i]
      for (name in spent) printf "%s\t%.3f\n", name, spent[name]
    }'
}

# bench NAME SIZE RUNS: packs an item of SIZE bytes, installs it RUNS times and copies it as often;
# sets install_s, copy_s, flush_s, remove_s (best), install_peak, copy_peak (largest), and appends
# each install's phases to $work/phases.
bench() {
  local name=$1 size=$2 n=$3 source_w copy_w i
  program "$size" "$work/$name"
  "$kvpack" build --stub "$build/bin/setup.exe" --test-stub --fast -o "$work/bench-setup.exe" \
    "$work/extaction.bin" "$work/$name" .= >"$work/pack.txt" 2>&1
  source_w=$(kv_windows_path "$work/$name")
  copy_w=$(kv_windows_path "$work/copy")
  install_s= copy_s= flush_s= remove_s= install_peak=0 copy_peak=0
  : >"$work/phases"
  for ((i = 0; i < n; ++i)); do
    rm -rf "$installed" "$work/copy"
    touch "$work/mark"
    measure "$work/output" "$KV_WINE" "$work/bench-setup.exe"
    # Windows names are case-blind, and the installer may write the name in another case.
    cmp -s "$work/$name" "$(find "$installed" -maxdepth 1 -iname "$name")" ||
      { echo "install-bench: the installer did not install $name" >&2; exit 1; }
    { kv_trace_times "$build/bin/kvtrace.exe" "$(kv_trace_of "$work/mark")" "$started"; echo "$seconds"; } |
      phases >>"$work/phases"
    install_s=$(best "$seconds" "$install_s")
    install_peak=$(awk -v a="$peak" -v b="$install_peak" 'BEGIN { print (a > b ? a : b) }')
    measure "$work/output" "$KV_WINE" cmd /c copy /b /y "$source_w" "$copy_w"
    copy_s=$(best "$seconds" "$copy_s")
    # The copy's own flush and removal, which the install pays for its copy and its payload.
    started=$(kv_now)
    sync "$work/copy"
    flush_s=$(best "$(kv_seconds_since "$started")" "$flush_s")
    started=$(kv_now)
    rm "$work/copy"
    remove_s=$(best "$(kv_seconds_since "$started")" "$remove_s")
    copy_peak=$(awk -v a="$peak" -v b="$copy_peak" 'BEGIN { print (a > b ? a : b) }')
  done
}

bench OrvaneKavariStart.exe $((6 << 20)) "$runs"
printf 'installer, 6 MiB start program: %.3f s (best of %d)\n' "$install_s" "$runs"
printf 'wine cmd copy of the same bytes: %.3f s (best of %d)\n' "$copy_s" "$runs"
printf 'ratio: %.2fx (aim: at most 2x)\n' "$(awk -v a="$install_s" -v b="$copy_s" 'BEGIN { print a / b }')"

bench kavari-big.bin $((192 << 20)) "$big_runs"
printf 'installer, 192 MiB item: %.3f s, peak memory %s MiB (best of %d)\n' "$install_s" "$install_peak" "$big_runs"
printf 'wine cmd copy of the same bytes: %.3f s, peak memory %s MiB; its flush %.3f s, its removal %.3f s\n' \
  "$copy_s" "$copy_peak" "$flush_s" "$remove_s"
printf 'ratio: %.2fx\n' "$(awk -v a="$install_s" -v b="$copy_s" 'BEGIN { print a / b }')"
echo "each phase of the install by its trace records, best of $big_runs, against the same step on one copy:"
awk -F '\t' -v copy="$copy_s" -v flush="$flush_s" -v removal="$remove_s" -v peak="$install_peak" '
  { if (!($1 in best) || $2 + 0 < best[$1]) best[$1] = $2 + 0 }
  END {
    reference["the copy"] = copy; reference["flush and swap"] = flush; reference["payload removal"] = removal
    order = "process start|package read|data block to Temp|decoding|the copy|flush and swap|payload removal|other"
    k = split(order, names, "|")
    worst = ""
    for (i = 1; i <= k; ++i) {
      name = names[i]
      if (name in reference)
        printf "  %-20s %7.3f s   (one copy: %.3f s)\n", name, best[name], reference[name]
      else
        printf "  %-20s %7.3f s\n", name, best[name]
      if (name != "decoding" && best[name] > copy && worst == "") worst = name
    }
    # Wine makes the copy with a truncate, and ext4 starts writing a file truncated to nothing back
    # at its close: part of the copy'"'"'s flush is in its own time, so the two are compared together.
    printf "  %-20s %7.3f s   (one copy: %.3f s)\n", "copy and flush", best["the copy"] + best["flush and swap"], \
      copy + flush
    printf "aim: peak memory at most 64 MiB: %s (%s MiB)\n", peak <= 64 ? "met" : "missed", peak
    printf "aim: no phase but decoding above one copy of the bytes (%.3f s): %s\n", copy, \
      worst == "" ? "met" : "missed (" worst ")"
  }' "$work/phases"
