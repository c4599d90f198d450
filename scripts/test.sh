#!/usr/bin/env bash
# Sets up what is missing, builds every preset and runs every test. CI runs exactly this.
#   scripts/test.sh [PRESET...]     (default: native asan win64 win32)
# The terminal shows one line per step, each failed test with its output, and each preset's
# summary; the whole output of the builds and tests is in build/test.log.
# KV_FAIL_ON_SKIP=1 (CI) fails the run when a test was skipped (a 32-bit one where the 32-bit Wine
# could not be set up).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native asan win64 win32)

scripts/bootstrap.sh

wine_prefixes=()
stop_wine() {
  for p in "${wine_prefixes[@]}"; do WINEPREFIX="$p" wineserver -k 2>/dev/null || true; done
}
trap stop_wine EXIT

# One prefix per build tree, made before the tests start so parallel tests do not race to
# create it. Its server must be persistent: one that ends 3 s after the last program (whenever
# the tests leave Wine idle that long) resets a program that connects while it shuts down. Wine's
# system programs start here too, with the server: started under a test, they would hold its
# output open for as long as the persistent server lives.
boot_prefix() {
  export WINEPREFIX=$1
  # wineserver refuses a prefix folder that does not exist yet (a clean clone's case).
  mkdir -p "$WINEPREFIX"
  # Status 2: a server already runs for the prefix (kept from an earlier run); it serves as well.
  local status=0
  wineserver -p || status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne 2 ]; then
    echo "no persistent wineserver for $WINEPREFIX (exit $status)"
    return 1
  fi
  # The 64-bit loader makes a prefix of both widths; `wine` may mean the 32-bit one.
  # KV_WINE_LOADER: another loader (the selftest's stand-in).
  local boot=${KV_WINE_LOADER:-wine}
  [ -z "${KV_WINE_LOADER:-}" ] && [ -x /usr/lib/wine/wine64 ] && boot=/usr/lib/wine/wine64
  "$boot" wineboot -i || true
}

failed=()
passed_count=0 failed_count=0 skipped_count=0
out=$(mktemp)
for preset in "${presets[@]}"; do
  started=$SECONDS
  if ! step "$preset: configure and build" bash -c "cmake --preset '$preset' && cmake --build --preset '$preset'"; then
    failed+=("$preset (build)")
    continue
  fi
  if [ "$preset" = win64 ] || [ "$preset" = win32 ]; then
    prefix="$PWD/build/$preset/wineprefix"
    wine_prefixes+=("$prefix")
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if ! step "$preset: prepare the Wine prefix" boot_prefix "$prefix"; then
      failed+=("$preset (Wine prefix)")
      continue
    fi
  fi
  echo "$preset: test"
  # The status is ctest's: read it before anything else runs. Passing tests stay in the log only.
  set +e
  ctest --preset "$preset" -j "$(nproc)" 2>&1 | tee "$out" |
    grep --line-buffered -vE '^ *Start +[0-9]+: |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* +Passed +[0-9.]+ sec$'
  status=${PIPESTATUS[0]}
  set -e
  cat "$out" >>"$KV_LOG"
  [ "$status" -eq 0 ] || failed+=("$preset")
  # CTest counts a skipped test as passed; the summary below does not.
  summary=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1 || true)
  if [ -n "$summary" ]; then
    total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
    bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
    skipped=$(grep -c '(Skipped)' "$out" || true)
    passed_count=$((passed_count + total - bad - skipped))
    failed_count=$((failed_count + bad))
    skipped_count=$((skipped_count + skipped))
  elif [ "$status" -eq 0 ]; then
    # A preset that ran no test at all is a failure too: something did not build or register.
    failed+=("$preset (no tests)")
  fi
  echo "$preset: done in $((SECONDS - started)) s"
done
rm -f "$out"

if [ "${KV_FAIL_ON_SKIP:-0}" = 1 ] && [ "$skipped_count" -gt 0 ]; then
  failed+=("$skipped_count skipped")
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "tests failed in: ${failed[*]} (whole output: $KV_LOG)"
else
  echo "all presets passed: ${presets[*]} (whole output: $KV_LOG)"
fi
echo "total: $passed_count passed, $failed_count failed, $skipped_count skipped"
[ ${#failed[@]} -eq 0 ]
