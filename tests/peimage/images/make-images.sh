#!/usr/bin/env bash
# Rebuilds the small test images (a 32-bit and a 64-bit DLL with version resources of their own)
# with the mingw-w64 tools. The images are kept in the repository, so tests need no cross tools.
set -euo pipefail
cd "$(dirname "$0")"
for bits in 32 64; do
  if [ $bits = 32 ]; then t=i686-w64-mingw32; entry=_entry@12; else t=x86_64-w64-mingw32; entry=entry; fi
  $t-windres -DIMAGE_BITS=$bits -i version.rc -o version$bits.res -O coff
  $t-gcc -Os -shared -nostdlib -s -Wl,--entry,$entry -Wl,--no-insert-timestamp \
    -o version$bits.dll image.c version$bits.res
  rm -f version$bits.res
done
ls -l version32.dll version64.dll
