#!/usr/bin/env bash
# One trace file, two widths: a 32-bit and a 64-bit writer process (4 threads each) wrap a 64 KiB
# ring about 20 times on one file, in one prefix, while the 64-bit kvtrace follows it; once with
# the 32-bit writer creating the file, once with the 64-bit one. Every record followed and read
# back must be complete and in order per thread, and both kvtraces must read the same file alike.
#   mixed-width-writers.sh WINE_RUN PREFIX HELPER32 KVTRACE32 WIN64_BIN
set -euo pipefail
run=$1 prefix=$2 helper32=$3 kvtrace32=$4 bin64=$5
helper64=$bin64/trace_writer_helper.exe
kvtrace64=$bin64/kvtrace.exe
if [ ! -f "$helper64" ] || [ ! -f "$kvtrace64" ]; then
  echo "mixed-width: $bin64 has no 64-bit trace_writer_helper.exe and kvtrace.exe: build the win64 preset first" >&2
  exit 1
fi

work=$(mktemp -d)
follow=
cleanup() {
  [ -z "$follow" ] || kill "$follow" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# Reads kvtrace's JSON lines: no unfinished record, each thread's "w N" only growing; prints the
# number of records and of writers (process and thread) seen.
check() {
  python3 - "$1" <<'PY'
import json, sys
last, count = {}, 0
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    if r.get("incomplete"):
        sys.exit("record #%d is not complete" % r["seq"])
    if r["text"] == "start":
        continue
    if not r["text"].startswith("w "):
        sys.exit("unexpected record: " + line.strip())
    n, writer = int(r["text"][2:]), (r["pid"], r["tid"])
    if n <= last.get(writer, 0):
        sys.exit("writer %s went from %d to %d" % (writer, last[writer], n))
    last[writer] = n
    count += 1
print(count, len(last))
PY
}

failed=0
fail() { echo "mixed-width ($creator-bit creator): $*" >&2; failed=1; }

for creator in 32 64; do
  if [ "$creator" = 32 ]; then first=$helper32 second=$helper64; else first=$helper64 second=$helper32; fi
  instance=mixed${creator}_$$
  folder=$work/$creator
  mkdir -p "$folder"
  args=(write "$instance" "$(windows_path "$folder")" 65536 4 2500)

  "$run" "$prefix" "$kvtrace64" follow --instance "$instance" --json >"$work/follow$creator" 2>&1 &
  follow=$!
  "$run" "$prefix" "$first" "${args[@]}" &
  a=$!
  # The other width attaches only once the first has made the file.
  for _ in $(seq 300); do compgen -G "$folder/kvrtra_*.kvl" >/dev/null && break; sleep 0.1; done
  "$run" "$prefix" "$second" "${args[@]}" &
  b=$!
  wait "$a" || fail "the first writer exited with $?"
  wait "$b" || fail "the second writer exited with $?"
  sleep 1.5 # the follower's last snapshot (it also wakes once a second)
  kill "$follow"
  wait "$follow" 2>/dev/null || true
  follow=

  files=("$folder"/kvrtra_*.kvl)
  [ ${#files[@]} -eq 1 ] || { fail "expected one trace file, found ${#files[@]}"; continue; }
  file=$(windows_path "${files[0]}")
  for width in 32 64; do
    kvtrace=$kvtrace32; [ "$width" = 64 ] && kvtrace=$kvtrace64
    "$run" "$prefix" "$kvtrace" info "$file" | tr -d '\r' >"$work/info$width" || fail "$width-bit kvtrace info failed"
    "$run" "$prefix" "$kvtrace" dump --json "$file" | tr -d '\r' >"$work/dump$width" || fail "$width-bit kvtrace dump failed"
  done
  cmp -s "$work/info32" "$work/info64" || fail "the two kvtraces read the header differently: $(diff "$work/info32" "$work/info64" | head -5)"
  cmp -s "$work/dump32" "$work/dump64" || fail "the two kvtraces read the records differently"
  grep -q "^file size: *65536 bytes$" "$work/info64" && grep -q "^state: *good$" "$work/info64" ||
    fail "header: $(cat "$work/info64")"
  sequence=$(sed -n 's/^last sequence: *//p' "$work/info64")
  [ "${sequence:-0}" -gt 15000 ] || fail "last sequence ${sequence:-none}, expected about 20000 records"

  tr -d '\r' <"$work/follow$creator" >"$work/followed"
  if read -r count writers < <(check "$work/followed"); then
    [ "$writers" -eq 8 ] || fail "followed $writers writers of 8"
    [ "$count" -gt 1000 ] || fail "followed only $count records"
  else
    fail "follow: $(check "$work/followed" 2>&1 | tail -n 1)"
  fi
  check "$work/dump64" >/dev/null || fail "dump: $(check "$work/dump64" 2>&1 | tail -n 1)"
  echo "mixed-width ($creator-bit creator): last sequence $sequence, followed ${count:-0} records of ${writers:-0} writers"
done
exit "$failed"
