#!/usr/bin/env bash
# Installs from Debian's archive whatever the builds need and the machine lacks, and sets up the
# 32-bit Wine (scripts/setup-wine32.sh); does nothing (quickly) when all is there.
# --native-only skips the Windows cross compilers and Wine.
# Prints one line per step; apt's own output goes to $KV_LOG (default build/bootstrap.log).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh

pkgs=(cmake ninja-build g++ googletest python3-pefile)
[ "${1:-}" = "--native-only" ] || pkgs+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 osslsigncode openssl)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
install_missing() {
  # apt-get update fails as a whole when one secondary index is out of step, although the main
  # index it fetched is fine; so its status is only a warning, and the install decides.
  $sudo apt-get update -q || echo "bootstrap: apt-get update reported errors; going on"
  if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    echo "bootstrap: install failed; refreshing the package lists once more"
    sleep 5
    $sudo apt-get update -q || true
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}
if [ ${#missing[@]} -gt 0 ]; then
  step "Installing ${#missing[@]} packages with apt-get (${missing[*]})" install_missing
fi

[ "${1:-}" = "--native-only" ] && exit 0
# Without the 32-bit Wine the 64-bit builds still work: the 32-bit programs' tests are skipped,
# which scripts/test.sh counts and CI fails on.
if ! scripts/setup-wine32.sh --check 2>/dev/null; then
  step "Setting up the 32-bit Wine for the shipped 32-bit programs" scripts/setup-wine32.sh ||
    echo "bootstrap: 32-bit programs cannot run here; their tests will be skipped"
fi
exit 0
