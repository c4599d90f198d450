#!/usr/bin/env bash
# The installer on a full disk: a small tmpfs on the install folder that holds the old item while
# the new one does not fit, and in turn one on the prefix's temporary folder too small for the
# data block or for the payload. Each time the installed file must stay
# whole (old, or new where it did fit after all), the run must end with its leave line, and when
# the old file stays a level 3 line must name the system's error number (112 or 39, disk full).
#   disk-full.sh KVPACK SETUP_EXE KVTRACE_EXE PREFIX
# KVPACK runs on this machine; SETUP_EXE is the 64-bit setup.exe; PREFIX the build tree's prefix.
# Mounting needs root (or the right to mount): where it is refused the test is skipped (77).
set -euo pipefail
kvpack=$1 setup=$2 kvtrace=$3 prefix=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/install-run.sh"
for tool in wine mount umount; do
  command -v $tool >/dev/null || { echo "skipped: no $tool"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kv disk full ü.XXXXXX")
mounted=()
folder=
unmount() { # unmount DIR: tries for a while (the server may still close a file there), never leaves it
  for _ in $(seq 50); do umount "$1" 2>/dev/null && return 0; sleep 0.1; done
  umount -l "$1"
}
cleanup() {
  for m in "${mounted[@]}"; do mountpoint -q "$m" && unmount "$m"; done
  kv_wine_stop
  [ -n "$folder" ] && rm -rf "$folder"
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/probe"
if ! mount -t tmpfs -o size=64k tmpfs "$work/probe" 2>"$work/why"; then
  echo "skipped: a tmpfs cannot be mounted here ($(head -n 1 "$work/why"))"
  exit 77
fi
umount "$work/probe"

kv_wine_start "$prefix"
# Non-ASCII in the folder's name: the configuration is ANSI text (code page 1252, 0xFC is ü).
folder="$KV_PROFILE/AppData/Local/Kavari Disk ü"
KV_ITEM_SOURCES=("$setup" "$kvtrace")
mkdir -p "$work/in"
printf 'Path=#currentappdata#\\Kavari Disk \xfc\n' >"$work/in/extaction.bin"
kv_make_item $((1 << 20)) old "$work/old.bin"
kv_make_item $((5 << 20)) new "$work/new.bin"
mkdir -p "$work/downloads ü"
"$kvpack" build --stub "$setup" --test-stub --fast -o "$work/downloads ü/setup.exe" \
  "$work/in/extaction.bin" "item.bin=$work/new.bin" .= >"$work/pack.txt" 2>&1 ||
  { cat "$work/pack.txt" >&2; exit 1; }
block=$(($(stat -c %s "$work/downloads ü/setup.exe") - $(stat -c %s "$setup")))
echo "new item 5 MiB, data block $((block / 1024)) KiB; old item 1 MiB"

failures=0
# check NAME MOUNTPOINT SIZE: one run with a tmpfs of SIZE on MOUNTPOINT, the old item installed.
check() {
  local name=$1 at=$2 size=$3 pid trace lines verdict
  rm -rf "$folder"
  mkdir -p "$folder" "$at"
  mount -t tmpfs -o "size=$size" tmpfs "$at"
  mounted+=("$at")
  mkdir -p "$folder"
  cp "$work/old.bin" "$folder/item.bin"
  touch "$work/mark"
  "$KV_WINE" "$work/downloads ü/setup.exe" >"$work/output" 2>&1 9>&- &
  pid=$!
  kv_settle "$pid" "$KV_TEMP" "$folder" "$work"
  # The trace file may live on the tmpfs: read it before the tmpfs goes.
  trace=$(kv_trace_of "$work/mark")
  lines=
  [ -n "$trace" ] && lines=$(kv_trace_dump "$kvtrace" "$trace")
  [ -n "${KV_SHOW_TRACE:-}" ] && echo "$lines"
  if cmp -s "$folder/item.bin" "$work/new.bin"; then
    verdict="installed the new file"
  elif cmp -s "$folder/item.bin" "$work/old.bin"; then
    verdict="kept the old file"
    # Logger level 3 is trace level 8.
    if ! echo "$lines" | grep ' L8 ' | grep -Eq '=(112|39)(,|$)'; then
      verdict="$verdict, but no level 3 line names the error"
      echo "$lines" | grep ' L8 ' | sed 's/^/    /' >&2 || true
      failures=$((failures + 1))
    fi
  elif [ -e "$folder/item.bin" ]; then
    verdict="LOST the old file: item.bin is $(stat -c %s "$folder/item.bin") bytes, neither old nor new"
    failures=$((failures + 1))
  else
    verdict="LOST the old file: item.bin is gone"
    failures=$((failures + 1))
  fi
  if ! echo "$lines" | grep -q 'InstallKavariAddOn>>leave'; then
    verdict="$verdict; the trace has no leave line (last: $(echo "$lines" | tail -n 1 | cut -d' ' -f7- | cut -c1-120))"
    failures=$((failures + 1))
  fi
  printf '%-44s %s\n' "$name ($size):" "$verdict"
  unmount "$at"
  mounted=()
}

check "install folder, old 1 MiB, new 5 MiB" "$folder" 4096k
# The payload is the 5 MiB item and the directory; the item's copy goes beside the installed file.
temp_rows=(
  "temporary folder, data block does not fit:$((block / 2048))k"
  "temporary folder, payload does not fit:$((block / 1024 + 2048))k"
)
for row in "${temp_rows[@]}"; do
  check "${row%%:*}" "$KV_TEMP" "${row##*:}"
done
[ "$failures" -eq 0 ] || { echo "FAIL: $failures faults on a full disk" >&2; exit 1; }
echo "every installed file stayed whole on a full disk"
