# Helpers for scripts that run setup.exe under Wine and look at what it left: sourced, not run.
# They keep one wineserver up for the whole script (a program that waits on a pipe holds it), so
# that every start is quick and a killed run can be told apart from one the server still tidies.

# kv_wine_start PREFIX: the environment for PREFIX, the prefix made when missing, and the holder.
# Sets KV_WINE (the loader for 64-bit programs), KV_PROFILE, KV_TEMP and KV_SERVER_PID. The holder's
# pipe is open as descriptor 9: programs started later get `9>&-`, so that none keeps it open.
kv_wine_start() {
  WINEPREFIX=$(realpath -m "$1")
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Once 32-bit Wine is installed, `wine` is its loader; the 64-bit one runs setup.exe directly.
  KV_WINE=wine
  [ -x /usr/lib/wine/wine64 ] && KV_WINE=/usr/lib/wine/wine64
  [ -f "$WINEPREFIX/system.reg" ] || "$KV_WINE" wineboot -i >/dev/null 2>&1 || true
  KV_PROFILE=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}
  KV_TEMP=$KV_PROFILE/Temp
  mkdir -p "$KV_TEMP"
  # Every run makes the extraction folder and the browsers' plug-in folders; what a script made it
  # takes away again, since the prefix's other tests take a browser folder for an installed browser.
  KV_MADE=()
  local made
  for made in "$KV_PROFILE"/AppData/Local/{Kavari,Google} "$KV_PROFILE/AppData/Roaming/Mozilla"; do
    [ -e "$made" ] || KV_MADE+=("$made")
  done
  KV_HOLD_FIFO=$(mktemp -u "${TMPDIR:-/tmp}/kv-hold.XXXXXX")
  mkfifo "$KV_HOLD_FIFO"
  "$KV_WINE" cmd.exe <"$KV_HOLD_FIFO" >/dev/null 2>&1 &
  KV_HOLD_PID=$!
  exec 9>"$KV_HOLD_FIFO"
  # The server runs in a folder named after the prefix's device and inode.
  local dir
  dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
  KV_SERVER_PID=
  for _ in $(seq 100); do
    for p in $(pgrep wineserver); do
      case $(readlink "/proc/$p/cwd" 2>/dev/null) in */"$dir") KV_SERVER_PID=$p; break 2 ;; esac
    done
    sleep 0.1
  done
  [ -n "$KV_SERVER_PID" ] || { echo "no wineserver found for $WINEPREFIX" >&2; return 1; }
}

# kv_wine_stop: lets the holder end (end of input), so the server may end with the last program;
# removes the folders the runs made.
kv_wine_stop() {
  [ -n "${KV_HOLD_PID:-}" ] || return 0
  exec 9>&-
  wait "$KV_HOLD_PID" 2>/dev/null || true
  rm -f "$KV_HOLD_FIFO"
  KV_HOLD_PID=
  [ ${#KV_MADE[@]} -eq 0 ] || rm -rf "${KV_MADE[@]}"
}

# kv_settle PID PATH...: waits until the run PID has ended and the server holds no file under the
# PATHs: only then has a killed run's every handle been closed (delete-on-close files deleted).
kv_settle() {
  local pid=$1 held target path
  shift
  wait "$pid" 2>/dev/null || true
  for _ in $(seq 200); do
    held=
    while IFS= read -r target; do
      for path in "$@"; do
        case $target in "$path"*) held=$target ;; esac
      done
    done < <(find "/proc/$KV_SERVER_PID/fd" -mindepth 1 -printf '%l\n' 2>/dev/null)
    [ -z "$held" ] && return 0
    sleep 0.05
  done
  echo "the server still holds $held 10 s after the run ended" >&2
  return 1
}

# kv_make_item SIZE SEED OUT: SIZE bytes, different for every SEED from the first line on: an
# eighth that compresses like programs (the images in KV_ITEM_SOURCES back to back), then numbered
# lines of text, which decode many times faster, so that decoding does not outlast every other
# phase of an install by far.
kv_make_item() {
  local size=$1 seed=$2 out=$3 block=0
  : >"$out"
  while [ "$(stat -c %s "$out")" -lt $((size / 8)) ]; do
    printf 'kavari proof item, seed %s, block %08d\n' "$seed" "$block" >>"$out"
    cat "${KV_ITEM_SOURCES[@]}" >>"$out"
    block=$((block + 1))
  done
  truncate -s $((size / 8)) "$out"
  awk -v seed="$seed" -v n=$((size / 160 + 1)) 'BEGIN {
    for (i = 0; i < 100; ++i) fill = fill "."
    for (i = 0; i < n; ++i) printf "kavari proof item, seed %s, line %010d, %s\n", seed, i, fill }' >>"$out"
  truncate -s "$size" "$out"
}

# kv_trace_of MARKER: the trace file a run started after MARKER was made wrote (the newest).
kv_trace_of() {
  find "$KV_TEMP" -maxdepth 1 -name 'kvrtra_*.kvl' -newer "$1" -printf '%T@ %p\n' 2>/dev/null |
    sort -n | tail -n 1 | cut -d' ' -f2-
}

# kv_trace_dump KVTRACE FILE [OPTIONS...]: the file's records as kvtrace prints them.
kv_trace_dump() {
  local kvtrace=$1 file=$2
  shift 2
  "$KV_WINE" "$kvtrace" dump "$@" -- "$(kv_windows_path "$file")" 2>/dev/null | tr -d '\r'
}

# kv_windows_path PATH: the path as Wine's drive Z: (the Linux root) names it; no Wine start.
kv_windows_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# kv_now: wall seconds, without starting a process. kv_seconds_since START: seconds since START.
kv_now() { echo "${EPOCHREALTIME/,/.}"; }
kv_seconds_since() {
  awk -v a="$1" -v b="$(kv_now)" 'BEGIN { printf "%.3f", b - a }'
}

# kv_trace_times KVTRACE FILE START: the file's records as "SECONDS MODULE: TEXT", in seconds from
# START (date +%s.%N); kvtrace prints times in UTC to the millisecond.
kv_trace_times() {
  local dump
  dump=$(kv_trace_dump "$1" "$2")
  [ -n "$dump" ] || return 0
  paste -d' ' <(echo "$dump" | cut -c1-23 | sed 's/$/ UTC/' | date -u -f - +%s.%N) \
    <(echo "$dump" | cut -d' ' -f7-) |
    awk -v s="$3" '{ printf "%.3f %s\n", $1 - s, substr($0, index($0, " ") + 1) }'
}
