#!/usr/bin/env bash
# The demo installer as a user gets it: signed after packing, downloaded into a folder whose name
# has blanks, and run by a user whose profile name is not ASCII and holds a blank, in a Wine
# prefix of its own (Wine names the profile after USER when it makes the prefix).
#   signed-installer-other-profile.sh KVPACK INSTALLER KVTRACE_EXE
# KVPACK runs on this machine; INSTALLER is a KavariSetup.exe of either width; KVTRACE_EXE reads
# the trace. Programs run through scripts/wine-run; the 64-bit loader makes the prefix (both widths).
set -euo pipefail
kvpack=$1 installer=$2 kvtrace=$3
for tool in openssl osslsigncode wine wineboot wineserver; do
  command -v $tool >/dev/null || { echo "skipped: no $tool (scripts/bootstrap.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$work/prefix USER="José Ñ"
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
wine_run() { "$(dirname "$0")/../../../scripts/wine-run" "$WINEPREFIX" "$@"; }
wine64=wine
[ -x /usr/lib/wine/wine64 ] && wine64=/usr/lib/wine/wine64

"$wine64" wineboot -i >/dev/null 2>&1
profile="$WINEPREFIX/drive_c/users/$USER"
[ -d "$profile" ] || fail "Wine made no profile folder \"$USER\""

# A signature made here with a certificate of the test's own.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Kavari test signer" >/dev/null 2>&1
downloads="$work/my downloads"
mkdir -p "$downloads"
signed="$downloads/KavariSetup.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Kavari" -in "$installer" -out "$signed" >/dev/null

# The signature stands behind the package, which is unchanged: the certificate table (data
# directory 4, found through the optional header's magic) starts at or after the unsigned file's
# end, and only the headers (checksum, that directory entry) differ before it.
u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
u16() { od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
lfanew=$(u32 "$signed" 60)
optional=$((lfanew + 24))
case $(u16 "$signed" $optional) in
  267) directories=$((optional + 96)) ;;
  523) directories=$((optional + 112)) ;;
  *) fail "not a PE image" ;;
esac
table=$(u32 "$signed" $((directories + 4 * 8)))
size=$(stat -c %s "$installer")
[ "$table" -ge "$size" ] || fail "the signature starts at $table, inside the package (file was $size bytes)"
cmp -s -i 1024:1024 -n $((size - 1024)) "$installer" "$signed" || fail "signing changed more than the headers"
"$kvpack" verify "$signed" >/dev/null || fail "kvpack verify refuses the signed installer"

(cd "$downloads" && wine_run KavariSetup.exe >/dev/null 2>&1) || fail "the installer did not exit 0"
folder="$profile/AppData/Local/Kavari"
for item in orvanekavaristart.exe firefox.json edge.json chrome.json; do
  [ -s "$folder/$item" ] || fail "$item is not installed under the profile"
done
for _ in $(seq 50); do [ -s "$folder/OrvaneKavariStart.record" ] && break; sleep 0.1; done
[ "$(tr -d '\r\n' <"$folder/OrvaneKavariStart.record")" = "/r" ] || fail "the start program was not started with /r"

trace=$(find "$profile" -name 'kvrtra_*.kvl' | head -n 1)
[ -n "$trace" ] || fail "no trace file"
lines=$(wine_run "$kvtrace" dump "$("$wine64" winepath -w "$trace")" 2>/dev/null)
[ -n "${KV_SHOW_TRACE:-}" ] && echo "$lines"
echo "$lines" | grep -q 'InstallKavariAddOn>>leave' || fail "the run did not end"
echo "$lines" | grep -qF 'strexeclog=Excute:C:\users\' || fail "no launch line"
echo "$lines" | grep -q 'bRet=TRUE' || fail "the launch failed"
if echo "$lines" | grep -q 'José'; then
  echo "$lines" | grep 'José' >&2
  fail "a logged path names the profile"
fi
echo "signed installer installed into the profile \"$USER\"; the log masks it"
