#!/usr/bin/env bash
# An install killed at random instants: a package whose large item replaces its older version is
# installed over the old one and killed (SIGKILL) at instants spread over the measured length of
# an uninterrupted run, so that they fall in every phase (package read, data block write, decode,
# item copy beside its target, flush and swap). After each kill every installed file must be byte for byte the old
# or the new version; the next run must install everything and leave no temporary file behind
# (kvr*.tmp, Pre*.tmp in Temp, staged copies or anything but the items in the install folder).
#   kill-install.sh KVPACK SETUP_EXE KVTRACE_EXE PREFIX
# KV_KILL_SEED=N replays the instants of an earlier run (as fractions of the measured length),
# KV_KILLS the number of kills (40), KV_KILL_MIB the large item's size (48).
set -euo pipefail
kvpack=$1 setup=$2 kvtrace=$3 prefix=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/install-run.sh"
command -v wine >/dev/null || { echo "skipped: no wine"; exit 77; }
kills=${KV_KILLS:-40}
mib=${KV_KILL_MIB:-48}
seed=${KV_KILL_SEED:-$(($(date +%s%N) / 1000 % 1000000))}

work=$(mktemp -d "${TMPDIR:-/tmp}/kv kill ü.XXXXXX")
folder=
cleanup() {
  kv_wine_stop
  [ -n "$folder" ] && rm -rf "$folder"
  rm -rf "$work"
}
trap cleanup EXIT
kv_wine_start "$prefix"
# A pipe nobody writes to: reading it with a time-out waits without starting a process.
mkfifo "$work/idle"
exec 8<>"$work/idle"
folder="$KV_PROFILE/AppData/Local/Kavari Kill ü"
rm -rf "$folder"

# The items in processing order around the large one; the installed names are lowercase.
names=(first.txt big.bin last.dat)
sizes=($((64 << 10)) $((mib << 20)) $((256 << 10)))
KV_ITEM_SOURCES=("$setup" "$kvtrace")
mkdir -p "$work/old" "$work/new" "$work/downloads ü"
printf 'Path=#currentappdata#\\Kavari Kill \xfc\n' >"$work/extaction.bin"
for version in old new; do
  items=()
  for i in "${!names[@]}"; do
    kv_make_item "${sizes[$i]}" "$version $i" "$work/$version/${names[$i]}"
    items+=("${names[$i]}=$work/$version/${names[$i]}")
  done
  "$kvpack" build --stub "$setup" --test-stub --fast -o "$work/downloads ü/$version setup.exe" \
    "$work/extaction.bin" "${items[@]}" .= >"$work/pack.txt" 2>&1 || { cat "$work/pack.txt" >&2; exit 1; }
done

# install VERSION: one run to its end; run_seconds is how long the process ran.
install() {
  local start pid
  start=$(kv_now)
  "$KV_WINE" "$work/downloads ü/$1 setup.exe" >"$work/output" 2>&1 8<&- 9>&- &
  pid=$!
  wait "$pid" || true
  run_seconds=$(kv_seconds_since "$start")
  kv_settle "$pid" "$KV_TEMP" "$folder" "$work"
}
# installed_is VERSION: every item is installed in that version.
installed_is() {
  for name in "${names[@]}"; do cmp -s "$folder/$name" "$work/$1/$name" || return 1; done
}
# What a run leaves in Temp (its trace files aside) and in the install folder (the items aside).
leftovers() {
  { find "$KV_TEMP" -mindepth 1 -maxdepth 1 ! -name 'kvrtra_*' -printf 'Temp/%P %s\n'
    find "$folder" -mindepth 1 -maxdepth 1 -printf 'folder/%P %s\n' 2>/dev/null; } |
    LC_ALL=C sort | LC_ALL=C comm -23 - "$work/expected" || true
}
restore_old() {
  rm -rf "$folder"
  mkdir -p "$folder"
  for name in "${names[@]}"; do cp "$work/old/$name" "$folder/$name"; done
}

# What Temp and the install folder hold when nothing is left over.
find "$KV_TEMP" -mindepth 1 -maxdepth 1 ! -name 'kvrtra_*' -printf 'Temp/%P %s\n' >"$work/expected.tmp"
for i in "${!names[@]}"; do echo "folder/${names[$i]} ${sizes[$i]}" >>"$work/expected.tmp"; done
LC_ALL=C sort "$work/expected.tmp" >"$work/expected"

install old
installed_is old || { echo "FAIL: the old installer did not install the old items" >&2; exit 1; }
restore_old
touch "$work/mark"
start=$(kv_now)
install new
length=$run_seconds
installed_is new || { echo "FAIL: an uninterrupted run did not install the new items" >&2; exit 1; }

# The uninterrupted run's records, in seconds from its start, name the phases.
trace=$(kv_trace_of "$work/mark")
: >"$work/phases.txt"
[ -n "$trace" ] && kv_trace_times "$kvtrace" "$trace" "$start" | cut -c1-100 >"$work/phases.txt"
echo "uninterrupted run: $length s, $mib MiB item; its phases by its records (seconds from the start):"
grep -v 'browserUtil\|GetChrome\|CopyToHeaderStruct,,\|InitExtension\|InstallAddOn>>' "$work/phases.txt" | sed 's/^/  /' || true
echo "seed $seed (replay: KV_KILL_SEED=$seed), $kills kills"
# One instant in each of `kills` equal slices of a run: every phase longer than a slice is hit. The
# length is that of the latest whole run, as a loaded machine slows some runs down by half.
mapfile -t fractions < <(awk -v n="$kills" -v seed="$seed" \
  'BEGIN { srand(seed); for (k = 0; k < n; ++k) printf "%.4f\n", (k + rand()) / n }')
torn=0 unclean=0 incomplete=0
for k in "${!fractions[@]}"; do
  planned=$(awk -v f="${fractions[$k]}" -v len="$length" 'BEGIN { printf "%.3f", f * len }')
  restore_old
  start=$(kv_now)
  "$KV_WINE" "$work/downloads ü/new setup.exe" >"$work/output" 2>&1 8<&- 9>&- &
  pid=$!
  # Waiting in small steps, without starting a process per step, tells a run that ended before
  # its instant, whose length then counts as the latest.
  deadline=$(awk -v s="$start" -v p="$planned" 'BEGIN { printf "%.0f", (s + p) * 1000000 }')
  while kill -0 "$pid" 2>/dev/null; do
    now=${EPOCHREALTIME/[.,]/}
    ((now < deadline)) || break
    read -r -t 0.005 -u 8 || true
  done
  if ! kill -KILL "$pid" 2>/dev/null; then
    length=$(kv_seconds_since "$start")
    echo "kill $((k + 1))/$kills at $planned s: the run had ended after $length s"
    kv_settle "$pid" "$KV_TEMP" "$folder" "$work"
    continue
  fi
  # A loaded machine starts and wakes late: the instant that counts is the one the kill happened.
  at=$(kv_seconds_since "$start")
  kv_settle "$pid" "$KV_TEMP" "$folder" "$work"
  echo "kill $((k + 1))/$kills at $at s (planned $planned s, ${fractions[$k]} of $length s)"
  # Runs on a loaded machine differ too much for the uninterrupted run's records to name the phase
  # a kill fell in; what the killed run left shows it: the data block, the payload, copies.
  left=$(leftovers)
  [ -z "$left" ] || echo "  killed run left: $(echo "$left" | tr '\n' ';')"
  for name in "${names[@]}"; do
    if ! cmp -s "$folder/$name" "$work/old/$name" && ! cmp -s "$folder/$name" "$work/new/$name"; then
      if [ -e "$folder/$name" ]; then
        echo "  TORN: $name is $(stat -c %s "$folder/$name") bytes, neither the old nor the new version" >&2
      else
        echo "  TORN: $name is gone" >&2
      fi
      torn=$((torn + 1))
    fi
  done
  install new
  length=$run_seconds
  installed_is new || { echo "  the next run did not install every item" >&2; incomplete=$((incomplete + 1)); }
  left=$(leftovers)
  if [ -n "$left" ]; then
    echo "  left behind after the next run: $(echo "$left" | tr '\n' ';')" >&2
    unclean=$((unclean + 1))
    # Each kill is judged on its own: what this one left goes before the next.
    find "$KV_TEMP" -mindepth 1 -maxdepth 1 ! -name 'kvrtra_*' -newer "$work/mark" -exec rm -rf {} +
  fi
done
echo "$kills kills: $torn torn files, $incomplete next runs incomplete, $unclean next runs left temporaries"
[ $((torn + incomplete + unclean)) -eq 0 ] || { echo "FAIL: a killed install lost or left something" >&2; exit 1; }
echo "every kill left each installed file old or new, and every next run installed everything cleanly"
