#!/usr/bin/env bash
# Proves that scripts/test.sh fails when it must: it runs a copy of the script against stand-in
# cmake, ctest and Wine commands that pass, fail a test, fail a build, run no test or skip one
# (which fails only where skips are not allowed, as in CI), and checks the exit status and the
# closing line of each, and that a failed test's own lines reach the terminal.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# CI runs this inside a run that forbids skips: only the case that says so may inherit that.
unset KV_FAIL_ON_SKIP

mkdir -p "$work/repo/scripts" "$work/bin"
cp "$here/test.sh" "$here/steps.sh" "$work/repo/scripts/"
printf '#!/bin/sh\nexit 0\n' > "$work/repo/scripts/bootstrap.sh"
# FAKE names what goes wrong: build (cmake --build fails), test (one test fails), none (no test),
# skip (one test skipped).
cat > "$work/bin/cmake" <<'STUB'
#!/bin/sh
[ "$1" = --build ] && [ "$FAKE" = build ] && { echo "FAILED: thing.o"; exit 1; }
exit 0
STUB
cat > "$work/bin/ctest" <<'STUB'
#!/bin/sh
case "$FAKE" in
  test) echo "1/2 Test #1: a ...   Passed    0.01 sec"; echo "2/2 Test #2: b ...***Failed    0.01 sec"
        echo "b: expected 1, got 2"; echo "50% tests passed, 1 tests failed out of 2"; exit 8 ;;
  skip) echo "1/2 Test #1: a ...   Passed    0.01 sec"; echo "2/2 Test #2: b ...***Skipped   0.01 sec"
        echo "100% tests passed, 0 tests failed out of 2"; echo "The following tests did not run:"
        echo "	  2 - b (Skipped)"; exit 0 ;;
  none) echo "No tests were found!!!"; exit 0 ;;
  *) echo "1/2 Test #1: a ...   Passed    0.01 sec"; echo "2/2 Test #2: b ...   Passed    0.01 sec"
     echo "100% tests passed, 0 tests failed out of 2"; exit 0 ;;
esac
STUB
# Like the real one, the server refuses a prefix folder that does not exist.
printf '#!/bin/sh\n[ -d "$WINEPREFIX" ] || { echo "wineserver: chdir to $WINEPREFIX failed" >&2; exit 1; }\n' \
  > "$work/bin/wineserver"
printf '#!/bin/sh\nexit 0\n' > "$work/bin/wine"
chmod +x "$work/bin/"* "$work/repo/scripts/"*

passed=0 failed=0
expect() { # expect NAME WANTED_STATUS CLOSING_LINE [SHOWN]  (FAKE and presets set by the caller)
  local name=$1 want=$2 line=$3 shown=${4:-} status=0 out
  out=$(cd "$work/repo" && PATH="$work/bin:$PATH" KV_WINE_LOADER=wine KV_LOG= bash scripts/test.sh "${presets[@]}" 2>&1) ||
    status=$?
  if { [ "$want" = 0 ] && [ "$status" -eq 0 ]; } || { [ "$want" != 0 ] && [ "$status" -ne 0 ]; }; then
    if [ "$(printf '%s\n' "$out" | tail -n 1)" = "$line" ] &&
       { [ -z "$shown" ] || printf '%s\n' "$out" | grep -qxF "$shown"; } &&
       ! printf '%s\n' "$out" | grep -q 'Test #1: a .*Passed'; then
      passed=$((passed + 1)); return
    fi
  fi
  failed=$((failed + 1))
  echo "selftest: $name: status $status, wanted $([ "$want" = 0 ] && echo 0 || echo non-zero), last line:"
  printf '%s\n' "$out" | tail -n 3 | sed 's/^/  /'
}

presets=(native asan)
FAKE=ok expect "all pass" 0 "total: 4 passed, 0 failed, 0 skipped"
FAKE=test expect "a test fails" 1 "total: 2 passed, 2 failed, 0 skipped" "b: expected 1, got 2"
FAKE=skip expect "a test is skipped" 0 "total: 2 passed, 0 failed, 2 skipped"
FAKE=skip KV_FAIL_ON_SKIP=1 expect "a test is skipped in CI" 1 "total: 2 passed, 0 failed, 2 skipped"
FAKE=build expect "a build fails" 1 "total: 0 passed, 0 failed, 0 skipped"
FAKE=none expect "no test runs" 1 "total: 0 passed, 0 failed, 0 skipped"
presets=(win64)
FAKE=test expect "a Wine test fails" 1 "total: 1 passed, 1 failed, 0 skipped"
FAKE=ok expect "Wine tests on a clean tree" 0 "total: 2 passed, 0 failed, 0 skipped"

echo "test.sh selftest: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
