#!/bin/sh
# Checks that a Windows program imports only functions on a reviewed list, which names what the
# oldest supported system (Windows Vista) exports:
#   check-imports.sh EXE LIST
# LIST holds one "dll function" pair a line (DLL names in lower case); "#" starts a comment.
# Anything newer must be looked up at run time instead, with a fallback.
set -eu
exe=$1
list=$2
fail() { echo "check-imports: $exe: $*" >&2; exit 1; }

[ -f "$exe" ] || fail "no such file"
[ -f "$list" ] || fail "no list $list"
info=
for prefix in i686-w64-mingw32 x86_64-w64-mingw32; do
  command -v $prefix-objdump >/dev/null 2>&1 || continue
  info=$($prefix-objdump -p "$exe" 2>/dev/null) && break
done
[ -n "$info" ] || fail "not a PE image (or no mingw objdump to read it with)"

# "DLL Name: X" opens a table; its rows are "<vma> <hint> <name>", or "<vma> <ordinal>" alone for an
# import by ordinal, which the list cannot vouch for.
imports=$(echo "$info" | sed -n '/^The Import Tables/,/^The /p' | awk '
  /DLL Name:/ { dll = tolower($3); next }
  dll != "" && /^\t[0-9a-f]+\t/ { if (NF >= 3) print dll, $3; else print dll, "#ordinal" $2 }' | sort -u)
[ -n "$imports" ] || fail "no imports found"
allowed=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$list" | awk '{ print tolower($1), $2 }' | sort -u)
unlisted=$(printf '%s\n' "$imports" | grep -vxF "$allowed" || true)
if [ -n "$unlisted" ]; then
  printf '%s\n' "$unlisted" | sed 's/^/  /' >&2
  fail "imports the functions above, which are not on $list (check that Windows Vista has them, then list them)"
fi
echo "check-imports: $exe: ok ($(printf '%s\n' "$imports" | wc -l | tr -d ' ') imports, all listed)"
