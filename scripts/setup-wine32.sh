#!/usr/bin/env bash
# Sets up the 32-bit side of Wine so the shipped 32-bit programs run here, in the same prefix as
# the 64-bit ones and able to start each other:
#   - Debian's wine32:i386 beside wine64 (`wine` then names the 32-bit loader; scripts/wine-run
#     sends 64-bit programs to /usr/lib/wine/wine64, which keeps running natively);
#   - where the kernel refuses 32-bit code, a binfmt_misc entry (fix-binary flag) that hands every
#     i386 ELF program, Wine's own children included, to qemu-i386 from the next Debian release
#     (this release's qemu 7.2 crashes at a 32-bit Wine program's exit). The emulator is only the
#     fallback: a kernel that runs 32-bit programs runs them itself.
# Idempotent: a second run checks and does nothing. Downloads happen once per machine; the
# emulator lives in $KV_WINE32_CACHE (default /var/cache/kavari-wine32), outside the work tree.
# KV_WINE32_EMULATE=1 uses the emulator even where the kernel runs 32-bit code (to try it).
# --check changes nothing and answers 0 when all is set up.
# Prints one line naming the step that failed; the commands' own output goes to $KV_LOG
# (default: standard error).
set -Eeuo pipefail

cache=${KV_WINE32_CACHE:-/var/cache/kavari-wine32}
log=${KV_LOG:-/dev/stderr}
binfmt=/proc/sys/fs/binfmt_misc
entry=kavari-i386
qemu=$cache/qemu-i386
dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

step=""
trap 'echo "setup-wine32: failed: $step${KV_LOG:+ (see $KV_LOG)}" >&2' ERR

# The smallest static i386 program: exit(42) through int 0x80. Whether it answers 42 tells
# whether 32-bit programs run here, natively or through the binfmt entry.
probe() {
  local p
  p=$(mktemp)
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$p"
  chmod +x "$p"
  local status=0
  "$p" 2>/dev/null || status=$?
  rm -f "$p"
  [ "$status" -eq 42 ]
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

wine32_ready() {
  installed wine32:i386 && [ -x /usr/lib/wine/wine ] && [ -f "$dlls/zlib1.dll" ]
}

# Fetches qemu-user of the next release into the cache, through apt state of its own: the
# system's sources and package lists are never touched.
fetch_qemu() {
  [ -x "$qemu" ] && return 0
  local tmp
  tmp=$(mktemp -d)
  chmod 755 "$tmp" # apt's download user must reach it
  mkdir -p "$tmp/lists/partial" "$tmp/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" >"$tmp/sources.list"
  local opts=(-o Dir::Etc::SourceList="$tmp/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o Dir::State::Lists="$tmp/lists" -o Dir::Cache::Archives="$tmp/archives"
              -o APT::Architectures::=amd64 -o Debug::NoLocking=1)
  step="fetch the trixie package list for qemu-user"
  apt-get "${opts[@]}" update -q >>"$log" 2>&1
  step="download qemu-user from trixie"
  (cd "$tmp" && apt-get "${opts[@]}" download qemu-user) >>"$log" 2>&1
  step="unpack qemu-user"
  dpkg -x "$tmp"/qemu-user_*.deb "$tmp/root" >>"$log" 2>&1
  $sudo mkdir -p "$cache"
  $sudo install -m 755 "$tmp/root/usr/bin/qemu-i386" "$qemu"
  rm -rf "$tmp"
}

register_emulator() {
  step="mount binfmt_misc"
  [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt" >>"$log" 2>&1
  step="register qemu-i386 for i386 programs"
  if [ -e "$binfmt/$entry" ]; then
    echo 1 | $sudo tee "$binfmt/$entry" >/dev/null
    return 0
  fi
  # i386 ELF executables and shared objects (e_machine 3); F opens the emulator now, so it serves
  # programs in any mount namespace and needs no interpreter path inside the program's root.
  printf '%s' ":$entry:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
    | $sudo tee "$binfmt/register" >/dev/null
}

if [ "${1:-}" = --check ]; then
  trap - ERR
  probe && wine32_ready
  exit
fi

# 1. 32-bit programs run: natively, else through the emulator.
step="run a 32-bit program"
if [ "${KV_WINE32_EMULATE:-0}" = 1 ] || ! probe; then
  fetch_qemu
  register_emulator
  step="run a 32-bit program through qemu-i386"
  probe
fi

# 2. Debian's 32-bit Wine, of the same version as the 64-bit one.
if ! wine32_ready; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    step="add the i386 architecture"
    $sudo dpkg --add-architecture i386 >>"$log" 2>&1
  fi
  step="update the package lists"
  $sudo apt-get update -q >>"$log" 2>&1 || echo "setup-wine32: apt-get update reported errors; going on" >>"$log"
  step="install wine32:i386"
  want=$(dpkg-query -W -f='${Version}' wine64)
  $sudo apt-get install -y -q --no-install-recommends "wine32:i386=$want" >>"$log" 2>&1
  # The package's installation puts mingw's i686 zlib1.dll among Wine's DLLs, and user32 needs
  # it; a tree unpacked by hand lacks it, so the check stays.
  step="find zlib1.dll among Wine's i386 DLLs"
  [ -f "$dlls/zlib1.dll" ]
fi

step="start the 32-bit Wine loader"
/usr/lib/wine/wine --version >/dev/null 2>>"$log"
