#!/usr/bin/env bash
# Runs a command with a CUPS scheduler at hand.
#
#   scripts/with-cupsd.sh COMMAND [ARGS...]
#
# If no scheduler answers, starts one in the foreground mode (`cupsd -f`, as
# root), waits up to about 10 s until `lpstat -r` reports it running, runs the
# command, then stops the scheduler it started (by that process's id only).
# The command's exit code is kept. Without root, or without cupsd, the command
# runs anyway and the tests that need a scheduler skip themselves.
set -u

scheduler_running() {
  [ "$(timeout 5 lpstat -r 2>/dev/null)" = "scheduler is running" ]
}

started_pid=""

stop_started() {
  [ -n "$started_pid" ] || return 0
  kill -TERM "$started_pid" 2>/dev/null
  for _ in $(seq 1 100); do
    kill -0 "$started_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$started_pid" 2>/dev/null
  wait "$started_pid" 2>/dev/null
  started_pid=""
}
trap 'stop_started; exit 130' INT TERM

if [ "$#" -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

if ! scheduler_running; then
  if [ "$(id -u)" -eq 0 ] && command -v cupsd >/dev/null 2>&1; then
    cupsd -f &
    started_pid=$!
    for _ in $(seq 1 100); do
      scheduler_running && break
      kill -0 "$started_pid" 2>/dev/null || break
      sleep 0.1
    done
    if scheduler_running; then
      echo "with-cupsd: started cupsd (pid $started_pid)" >&2
    else
      echo "with-cupsd: cupsd did not come up; running without it" >&2
      stop_started
    fi
  else
    if [ "$(id -u)" -ne 0 ]; then
      echo "with-cupsd: no scheduler running, and only root may start one; the spooler tests will skip" >&2
    else
      echo "with-cupsd: no scheduler running and no cupsd installed (Debian package cups); the spooler tests will skip" >&2
    fi
  fi
fi

"$@"
rc=$?
stop_started
exit "$rc"
