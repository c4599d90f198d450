#!/usr/bin/env bash
# Builds the shipped Windows programs twice, from two copies of the sources at different paths,
# and compares their bytes: setup.exe, the demo programs and KavariSetup.exe must not depend on
# where or when they were built, so a release can be proven to come from its commit.
#   check-reproducible.sh [PRESET [KVPACK]]
# PRESET is a Windows preset (default win32); KVPACK a kvpack for this machine to pack with
# (default: each build makes its own, which takes longer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-win32}
kvpack=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

outputs=(bin/setup.exe demo/OrvaneKavariStart.exe demo/npkvdpx.dll demo/KavariSetup.exe)
# Paths of different lengths, so that a path anywhere in an image shifts what follows it.
trees=(a second-tree)
for tree in "${trees[@]}"; do
  src=$work/$tree/src
  mkdir -p "$src"
  # The sources as they stand, uncommitted changes included, without build trees or Git data.
  tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$src" -xf -
  cmake -S "$src" -B "$work/$tree/build" --preset "$preset" -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF \
    ${kvpack:+"-DKV_HOST_KVPACK=$kvpack"} >/dev/null
  # Only what ships; the two builds run one after the other, a second apart at least.
  cmake --build "$work/$tree/build" -j 2 --target setup_exe demo_package >/dev/null
  sleep 1
done

status=0
for output in "${outputs[@]}"; do
  first=$work/${trees[0]}/build/$output
  second=$work/${trees[1]}/build/$output
  if cmp -s "$first" "$second"; then
    echo "check-reproducible: $preset $output: same bytes ($(wc -c <"$first" | tr -d ' ') bytes, sha256 $(sha256sum "$first" | cut -c1-16)...)"
  else
    echo "check-reproducible: $preset $output: the two builds differ:" >&2
    cmp -l "$first" "$second" | head -n 5 >&2 || true
    status=1
  fi
done
exit $status
