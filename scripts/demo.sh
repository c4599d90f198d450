#!/usr/bin/env bash
# Sets up what is missing, builds kvpack and the setup.exe stub, and packs the demo items into an
# installer, which it then verifies and lists: build/demo/KavariAddOnSetup.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build --preset native --target kvpack
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target setup_exe

kvpack=build/native/bin/kvpack
out=build/demo/KavariAddOnSetup.exe
mkdir -p build/demo
# The install configuration first: it governs the items after it. The zero-size "." entry ends
# the list as in the shipped package.
$kvpack build --stub build/win32/bin/setup.exe -o "$out" \
  demo/extaction.bin demo/firefox.json demo/edge.json demo/chrome.json .=
$kvpack verify "$out"
$kvpack list "$out"
