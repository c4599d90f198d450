#!/bin/sh
# Static checks of a shipped Windows program, for machines that cannot run it:
#   check-pe.sh EXE gui|console [installer [PACKED]]
# It must be a PE image of the build's machine with the given subsystem, and import no DLL
# beyond the system's (the C and C++ runtimes are linked in). An installer stub must also carry
# the as-invoker manifest and, as PE32, end exactly where the setup program computes its image
# end, so that kvpack can put the package there, and hold no package magic of its own (the
# setup program would take it for its package). PACKED, an installer made from the stub, must
# be the stub's bytes with the package header right behind them.
set -eu
exe=$1
subsystem=$2
kind=${3:-}
packed=${4:-}
fail() { echo "check-pe: $exe: $*" >&2; exit 1; }

[ -f "$exe" ] || fail "no such file"
# Each mingw objdump reads only its own machine's images.
info=
for prefix in i686-w64-mingw32 x86_64-w64-mingw32; do
  command -v $prefix-objdump >/dev/null 2>&1 || continue
  info=$($prefix-objdump -p "$exe" 2>/dev/null) && break
done
[ -n "$info" ] || fail "not a PE image (or no mingw objdump to read it with)"

case "$subsystem" in
  gui) want='(Windows GUI)' ;;
  console) want='(Windows CUI)' ;;
  *) fail "unknown subsystem $subsystem" ;;
esac
echo "$info" | grep -q "^Subsystem.*$want" || fail "subsystem is not $subsystem"

dlls=$(echo "$info" | sed -n 's/^[[:space:]]*DLL Name: //p')
for dll in $dlls; do
  case "$(echo "$dll" | tr 'A-Z' 'a-z')" in
    lib*.dll) fail "imports $dll, which is not a system DLL (link the runtime statically)" ;;
  esac
done

if [ "$kind" = installer ]; then
  grep -q 'level="asInvoker"' "$exe" || fail "no as-invoker manifest"
  echo "$info" | grep -q '^Magic.*(PE32)$' || fail "not a PE32 image"
  u32() { od -An -t u4 -j "$1" -N 4 "$exe" | tr -d ' '; }
  u16() { od -An -t u2 -j "$1" -N 2 "$exe" | tr -d ' '; }
  lfanew=$(u32 60)
  sections=$(u16 $((lfanew + 6)))
  alignment=$(u32 $((lfanew + 24 + 36)))
  end=$((lfanew + 248))
  i=0
  while [ $i -lt "$sections" ]; do
    end=$((end + 40 + $(u32 $((lfanew + 248 + 40 * i + 16)))))
    i=$((i + 1))
  done
  end=$(((end / alignment + 1) * alignment))
  size=$(wc -c < "$exe" | tr -d ' ')
  [ "$end" -eq "$size" ] || fail "computed image end $end differs from the file size $size"
  # The magic "MIP!" as bytes, anywhere in the image.
  if LC_ALL=C grep -q -a 'MIP!' "$exe"; then fail "the image holds the package magic"; fi
  if [ -n "$packed" ]; then
    [ -f "$packed" ] || fail "no packed installer $packed"
    cmp -s -n "$size" "$exe" "$packed" || fail "$packed does not begin with the stub's bytes"
    magic=$(dd if="$packed" bs=1 skip="$size" count=4 2>/dev/null)
    [ "$magic" = "MIP!" ] || fail "$packed has no package header at the image end $size"
  fi
fi
echo "check-pe: $exe: ok (${subsystem}${kind:+, $kind}${packed:+, packed at the image end})"
