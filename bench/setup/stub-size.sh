#!/usr/bin/env bash
# Prints the size of the win32 build's setup.exe by section and its largest contributors by
# section, from a link map of the same link: the runtime's archive members, and the installer's own
# code, which link-time optimisation makes one unit ("installer-LTO"). Then the installer's
# largest functions, from a second link that gives each function a section of its own (a little
# larger than the shipped one, by the sections' alignment).
#   bench/setup/stub-size.sh [TOP]     (needs a win32 build: scripts/test.sh win32)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=${1:-12}
build=$PWD/build/win32
exe=$build/bin/setup.exe
[ -f "$exe" ] || { echo "stub-size: $exe is missing; build the win32 preset first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The link step as the build runs it, writing a map and an image of its own instead.
link=$(cd "$build" && ninja -t commands bin/setup.exe | tail -1 | sed -e 's/^: && //' -e 's/ && .*//' \
  -e "s|--out-implib,[^ ]*|--out-implib,$work/implib.a|")
(cd "$build" && eval "${link/-o bin\/setup.exe/-o $work/setup.exe -Wl,-Map,$work/map}")
(cd "$build" && eval "${link/-o bin\/setup.exe/-o $work/functions.exe -ffunction-sections -fdata-sections -Wl,-Map,$work/functions.map}")
cmp -s "$exe" "$work/setup.exe" || echo "stub-size: note: the map's link differs from $exe" >&2

echo "setup.exe: $(wc -c < "$exe") bytes"
# mawk has no strtonum: hex() reads the sizes.
hexfn='function hex(s,   i, n) { n = 0; s = tolower(s); sub(/^0x/, "", s); for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return n }'
i686-w64-mingw32-objdump -h "$exe" | awk "$hexfn"' NF >= 7 && $1 ~ /^[0-9]+$/ { printf "  %-9s %8d\n", $2, hex($3) }'
# Input sections of the map: " .name addr size file", or the name alone with the rest on the next line.
awk -v top="$top" "$hexfn"'
  function add(name, size, file) {
    if (size == 0) return
    sub(/\$.*/, "", name); sub(/^\.text\..*/, ".text", name); sub(/^\.rdata\..*/, ".rdata", name)
    sub(/^\.data\..*/, ".data", name); sub(/^\.bss\..*/, ".bss", name)
    gsub(/.*\//, "", file)
    if (file ~ /ltrans/) file = "installer-LTO"
    bytes[name SUBSEP file] += size; total[name] += size
  }
  /^Linker script and memory map/ { inmap = 1; next }
  !inmap { next }
  /^ \.[^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add($1, hex($3), $4); pending = ""; next }
  /^ \.[^ ]+$/ { pending = $1; next }
  pending != "" && /^ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add(pending, hex($2), $3) }
  { pending = "" }
  END {
    for (key in bytes) { split(key, part, SUBSEP); print part[1], bytes[key], part[2] }
  }' "$work/map" | sort -k1,1 -k2,2nr | awk -v top="$top" '
  $1 != section { section = $1; shown = 0; if (section ~ /^\.(text|rdata|eh_frame|data)$/) print section ":" }
  section ~ /^\.(text|rdata|eh_frame|data)$/ && shown++ < top { printf "  %8d %s\n", $2, $3 }'

echo "largest functions of the installer (functions.exe: $(wc -c < "$work/functions.exe") bytes):"
awk "$hexfn"'
  /^Linker script and memory map/ { inmap = 1; next }
  !inmap { next }
  /^ \.text\$[^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ .*ltrans/ { print hex($3), $1; pending = ""; next }
  /^ \.text\$[^ ]+$/ { pending = $1; next }
  pending != "" && /^ +0x[0-9a-f]+ +0x[0-9a-f]+ .*ltrans/ { print hex($2), pending }
  { pending = "" }' "$work/functions.map" | sort -k1,1nr | head -n "$top" | sed 's/ \.text\$/ /' |
  while read -r size symbol; do
    printf '  %8d %s\n' "$size" "$(echo "$symbol" | i686-w64-mingw32-c++filt -n | cut -c1-100)"
  done
