#!/usr/bin/env bash
# Installs from Debian's archive whatever the builds need and the machine lacks; does nothing
# (quickly) when all is there.  --native-only skips the Windows cross compilers and Wine.
set -euo pipefail

pkgs=(cmake ninja-build g++ googletest python3-pefile)
[ "${1:-}" = "--native-only" ] || pkgs+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 osslsigncode openssl)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
echo "bootstrap: installing ${missing[*]}"
# apt-get update fails as a whole when one secondary index is out of step, although the main
# index it fetched is fine; so its status is only a warning, and the install decides.
$sudo apt-get update -q || echo "bootstrap: apt-get update reported errors; going on" >&2
if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  echo "bootstrap: install failed; refreshing the package lists once more" >&2
  sleep 5
  $sudo apt-get update -q || true
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
