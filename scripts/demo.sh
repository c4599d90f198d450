#!/usr/bin/env bash
# Sets up what is missing and builds the demo installer of the shipped (win32) build, which packs
# the demo package behind setup.exe: build/win32/demo/KavariSetup.exe. Then verifies and lists it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset win32 >/dev/null
# demo_package builds setup.exe, the start program, the plug-in module and a kvpack for this
# machine (build/win32/host/bin/kvpack), and packs the items in the order the installer takes them.
cmake --build --preset win32 --target demo_package

kvpack=build/win32/host/bin/kvpack
out=build/win32/demo/KavariSetup.exe
$kvpack verify "$out"
$kvpack list "$out"
