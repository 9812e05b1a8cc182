#!/usr/bin/env bash
# Fails when a process the test suites started is still alive: anything whose program lies in
# this checkout, or that carries the mark every process started by the tests gets
# (INKPLAY_OWNER in its environment). Such a process holds pipes and files of whoever ran the
# tests; it is listed, then ended. A few seconds are allowed for the last ones to go.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
find_left() {
  for p in /proc/[0-9]*; do
    pid=${p#/proc/}
    [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] && continue
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    if [[ $exe == "$top"/* ]] || tr '\0' '\n' < "$p/environ" 2>/dev/null | grep -q '^INKPLAY_OWNER='; then
      echo "$pid $(tr '\0' ' ' < "$p/cmdline" | cut -c1-120)"
    fi
  done
}
for _ in $(seq 30); do
  left=$(find_left)
  [ -z "$left" ] && { echo "leftovers: no process of the test suites is left"; exit 0; }
  sleep 0.1
done
echo "leftovers: still running after the tests:"
echo "$left"
echo "$left" | awk '{print $1}' | xargs -r kill -9
exit 1
