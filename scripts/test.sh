#!/usr/bin/env bash
# Sets up what is missing, builds every preset and runs every test. CI runs exactly this.
#   scripts/test.sh [PRESET...]     (default: native asan win64 win32)
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native asan win64 win32)

scripts/bootstrap.sh

wine_prefixes=()
stop_wine() {
  for p in "${wine_prefixes[@]}"; do WINEPREFIX="$p" wineserver -k 2>/dev/null || true; done
}
trap stop_wine EXIT

failed=()
passed_count=0 failed_count=0 skipped_count=0
log=$(mktemp)
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "=== $preset: build failed"
    failed+=("$preset (build)")
    continue
  fi
  if [ "$preset" = win64 ] || [ "$preset" = win32 ]; then
    # One prefix per build tree, made before the tests start so parallel tests do not race
    # to create it; a persistent wineserver keeps every later start quick.
    prefix="$PWD/build/$preset/wineprefix"
    wine_prefixes+=("$prefix")
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # wineserver -p fails when a server already runs for the prefix; that one serves as well.
    WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true
    # The 64-bit loader makes a prefix of both widths; `wineboot` may mean the 32-bit one.
    boot=wine; [ -x /usr/lib/wine/wine64 ] && boot=/usr/lib/wine/wine64
    WINEPREFIX="$prefix" "$boot" wineboot -i >/dev/null 2>&1 || true
  fi
  echo "=== $preset: test"
  # The status is ctest's, not tee's: read it before anything else runs.
  set +e
  ctest --preset "$preset" -j "$(nproc)" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  [ "$status" -eq 0 ] || failed+=("$preset")
  # CTest counts a skipped test as passed; the summary below does not.
  summary=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$summary" ]; then
    total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
    bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
    skipped=$(grep -c '(Skipped)' "$log" || true)
    passed_count=$((passed_count + total - bad - skipped))
    failed_count=$((failed_count + bad))
    skipped_count=$((skipped_count + skipped))
  elif [ "$status" -eq 0 ]; then
    # A preset that ran no test at all is a failure too: something did not build or register.
    failed+=("$preset (no tests)")
  fi
done
rm -f "$log"

if [ ${#failed[@]} -gt 0 ]; then
  echo "tests failed in: ${failed[*]}"
else
  echo "all presets passed: ${presets[*]}"
fi
echo "total: $passed_count passed, $failed_count failed, $skipped_count skipped"
[ ${#failed[@]} -eq 0 ]
