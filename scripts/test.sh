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
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = win64 ] || [ "$preset" = win32 ]; then
    # One prefix per build tree, made before the tests start so parallel tests do not race
    # to create it; a persistent wineserver keeps every later start quick.
    prefix="$PWD/build/$preset/wineprefix"
    wine_prefixes+=("$prefix")
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # wineserver -p fails when a server already runs for the prefix; that one serves as well.
    WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true
    WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1 || true
  fi
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$(nproc)" 2>&1 | tee "$log" || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed+=("$preset")
  # CTest counts a skipped test as passed; the summary below does not.
  summary=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
  bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
  skipped=$(grep -c '(Skipped)' "$log" || true)
  if [ -n "$summary" ]; then
    passed_count=$((passed_count + total - bad - skipped))
    failed_count=$((failed_count + bad))
    skipped_count=$((skipped_count + skipped))
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
