# Sourced by the project's scripts: one line per step on the terminal, the commands' own output
# (apt, CMake, compilers, Wine) in the log $KV_LOG, named with its last lines when a step fails.
#   step "what is done" COMMAND [ARGS...]
# KV_LOG defaults to build/<script>.log; a script started by another appends to the same log.
if [ -z "${KV_LOG:-}" ]; then
  mkdir -p build
  KV_LOG=$PWD/build/$(basename "$0" .sh).log
  : >"$KV_LOG"
fi
export KV_LOG

step() {
  local what=$1 status=0
  shift
  printf '%s ... ' "$what"
  echo "=== $what" >>"$KV_LOG"
  "$@" >>"$KV_LOG" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    echo ok
  else
    echo "failed (exit $status); the last lines of $KV_LOG:"
    tail -n 25 "$KV_LOG" | sed 's/^/  | /'
  fi
  return "$status"
}
