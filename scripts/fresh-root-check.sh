#!/usr/bin/env bash
# Tries the README's two commands (scripts/demo.sh, scripts/test.sh) on
# freshly bootstrapped minimal Debian 12 roots, as a new user would, and
# prints each step's result and time as a table:
#
#   run "root": in one fresh root, as root: demo.sh, then test.sh
#   run "user": in another, as a new user without sudo: demo.sh (which names
#               the root command it needs), that command run as root, demo.sh
#               again; then the same for test.sh
#
# Too slow for CI (40 minutes or more on two cores): run it before closing
# the last issue of a round. Needs root, debootstrap and the network to the
# machine's Debian mirror.
#
#   sudo scripts/fresh-root-check.sh [--ref REF] [--only root|user] [--serial]
#                                    [--tarball FILE] [--mirror URL] [--work DIR] [--keep]
#
#   --ref REF      the commit to check out (default: HEAD of the repository
#                  this script is in; only committed work is checked)
#   --only R       only the run R ("root" or "user"); both by default, side by side
#   --serial       the two runs one after the other instead of side by side
#   --tarball F    unpack the base system from F (made once with
#                  debootstrap --variant=minbase --include=git
#                  --make-tarball=F bookworm DIR MIRROR) instead of downloading it
#   --mirror URL   the Debian mirror (default: the first one in this machine's
#                  apt sources)
#   --work DIR     where the roots and logs go (default: a new folder in /var/tmp)
#   --keep         keep the roots afterwards (the logs are always kept)
#
# Isolation: each command runs in mount, PID and (for the tests) network
# namespaces of its own, with the root made the mount namespace's root by
# pivot_root, so that the user's tests may make user namespaces there as on a
# real machine. The tests run without network, with loopback up, so their
# CUPS scheduler is the root's own and never this machine's (which may listen
# on localhost:631); the package installs, which need the mirror, run with
# the machine's network. Every mount lives in a namespace that ends with its
# command, so nothing is left mounted on any exit path. No service starts in
# the roots while packages are installed (policy-rc.d), as in any chroot.
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
ref=HEAD only="" serial=0 tarball="" mirror="" work="" keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --ref) ref=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --serial) serial=1; shift ;;
    --tarball) tarball=$2; shift 2 ;;
    --mirror) mirror=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "fresh-root-check: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
done
die() { echo "fresh-root-check: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, namespaces): run it as root or through sudo"
for tool in debootstrap unshare git setpriv ip findmnt; do
  command -v "$tool" >/dev/null || die "$tool is missing (apt-get install debootstrap util-linux git iproute2)"
done
case $only in ""|root|user) ;; *) die "--only takes root or user" ;; esac
commit=$(git -C "$SRC" rev-parse --verify "$ref^{commit}") || die "no commit $ref in $SRC"
if [ -z "$mirror" ]; then
  mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | sed -n 's/^URIs: *\(http[^ ]*debian\/*\)$/\1/p' | head -n1)
  [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(http[^ ]*\) bookworm main.*/\1/p' /etc/apt/sources.list 2>/dev/null | head -n1)
  [ -n "$mirror" ] || die "no Debian mirror found in /etc/apt/sources.list(.d): give one with --mirror"
fi

if [ -z "$work" ]; then
  work=$(mktemp -d /var/tmp/paloma-fresh-root.XXXXXX)
else
  mkdir -p "$work"
fi
work=$(cd "$work" && pwd)
logs=$work/logs
mkdir -p "$logs"
table=$logs/table.md

cleanup() {
  local rc=$?
  # Mounts live in namespaces that ended with their commands; refuse to
  # delete through one that is somehow still there.
  if findmnt -rn -o TARGET | grep -q "^$work/"; then
    echo "fresh-root-check: something is still mounted under $work; not deleting it" >&2
  elif [ "$keep" -eq 0 ]; then
    rm -rf "$work/root-run" "$work/user-run" "$work/base"
  fi
  echo "fresh-root-check: logs in $logs" >&2
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- the table ---------------------------------------------------------------
row() {  # RUN STEP AS RESULT SECONDS
  printf '| %s | %s | %s | %s | %dm%02ds |\n' "$1" "$2" "$3" "$4" $(($5 / 60)) $(($5 % 60)) >>"$table"
}
printf '| run | step | as | result | time |\n|---|---|---|---|---|\n' >"$table"

# ---- running inside a root ----------------------------------------------------
# in_root ROOT AS NET LOG COMMAND: runs COMMAND (bash) in ROOT as AS (root or
# tester) with NET "host" or "none" (loopback only); its output to LOG.
in_root() {
  local root=$1 as=$2 net=$3 log=$4 cmd=$5
  local ns=(--mount --pid --fork --kill-child --propagation private)
  [ "$net" = none ] && ns+=(--net)
  local envs home user
  if [ "$as" = root ]; then
    home=/root user=root
    envs="PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
  else
    home=/home/$as user=$as
    envs="PATH=/usr/local/bin:/usr/bin:/bin"
  fi
  local drop=""
  [ "$as" = root ] || drop="setpriv --reuid=$as --regid=$as --init-groups"
  # shellcheck disable=SC2016
  unshare "${ns[@]}" -- bash -c '
    set -e
    root=$1 net=$2; shift 2
    [ "$net" = none ] && ip link set lo up
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t sysfs sysfs "$root/sys" 2>/dev/null || mount --rbind /sys "$root/sys"
    mkdir -p "$root/.old-root"
    cd "$root"
    pivot_root . .old-root
    cd /
    umount -l /.old-root
    rmdir /.old-root
    exec "$@"
  ' in-root "$root" "$net" env -i HOME="$home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 TERM=dumb \
    "$envs" $drop bash -c "cd ~ && $cmd" >"$log" 2>&1 </dev/null
}

# step RUN NAME ROOT AS NET TIMEOUT EXPECT COMMAND: runs and notes one step.
# EXPECT is "pass", or "root-command" for a step that must fail and name
# the command to run as root. Returns non-zero when the step went wrong.
step() {
  local run=$1 name=$2 root=$3 as=$4 net=$5 limit=$6 expect=$7 cmd=$8
  local n
  n=$(ls "$logs" | grep -c "^$run-.*\\.log\$" || true)
  local log
  log=$logs/$run-$(printf '%02d' "$n")-$(echo "$name" | tr -c 'A-Za-z0-9\n' '-').log
  local start rc=0
  start=$(date +%s)
  echo "fresh-root-check: [$run] $name (as $as; log $log)" >&2
  in_root "$root" "$as" "$net" "$log" "timeout $limit bash -c $(printf '%q' "$cmd")" || rc=$?
  local took=$(( $(date +%s) - start )) result
  if [ "$expect" = pass ]; then
    if [ "$rc" -eq 0 ]; then result=passed; else result="FAILED (exit $rc)"; fi
  else
    if [ "$rc" -ne 0 ] && grep -q '^  apt-get update && ' "$log"; then
      result="stopped and named the root command, as expected"
      rc=0
    else
      result="FAILED: expected it to stop and name the root command (exit $rc)"
      rc=1
    fi
  fi
  [ "$result" = passed ] || [ "$rc" -eq 0 ] || result="$result, see $(basename "$log")"
  row "$run" "$name" "$as" "$result" "$took"
  if grep -q '^== test.sh summary' "$log"; then
    sed -n '/^== test.sh summary/,$p' "$log" >"$logs/$run-test-summary.txt"
  fi
  return "$rc"
}

# ---- the base system ------------------------------------------------------------
make_root() {  # DIR: a fresh minimal Debian 12 root with git, the repository cloned in it
  local dir=$1
  if [ -n "$tarball" ]; then
    debootstrap --variant=minbase --include=git --unpack-tarball="$(cd "$(dirname "$tarball")" && pwd)/$(basename "$tarball")" \
      bookworm "$dir" "$mirror" >"$logs/debootstrap-$(basename "$dir").log" 2>&1
  else
    debootstrap --variant=minbase --include=git bookworm "$dir" "$mirror" \
      >"$logs/debootstrap-$(basename "$dir").log" 2>&1
  fi
  # The machine's apt sources and name service, and no service started by
  # package installs.
  rm -f "$dir/etc/apt/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    mkdir -p "$dir$(dirname "$f")"
    cp "$f" "$dir$f"
    for key in $(sed -n 's/^Signed-By: *\(\/[^ ]*\)$/\1/p; s/.*signed-by=\([^] ]*\).*/\1/p' "$f"); do
      [ -f "$dir$key" ] || { [ -f "$key" ] && mkdir -p "$dir$(dirname "$key")" && cp "$key" "$dir$key"; }
    done
  done
  cp -L /etc/resolv.conf "$dir/etc/resolv.conf"
  [ -s "$dir/etc/hosts" ] || printf '127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n' >"$dir/etc/hosts"
  printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
  chmod 755 "$dir/usr/sbin/policy-rc.d"
}

clone_into() {  # DIR OWNER: the repository at $commit in DIR
  local dir=$1 owner=$2
  git clone -q --no-hardlinks "$SRC" "$dir"
  git -C "$dir" checkout -q --detach "$commit"
  [ "$owner" = root ] || chown -R "$owner" "$dir"
}

root_run() {
  local r=$work/root-run start
  start=$(date +%s)
  make_root "$r" && clone_into "$r/root/paloma" root || { row root "bootstrap Debian 12 and clone" root FAILED $(( $(date +%s) - start )); return 1; }
  row root "bootstrap Debian 12 (minbase, git) and clone $commit" root passed $(( $(date +%s) - start ))
  step root "scripts/demo.sh" "$r" root host 5400 pass "cd paloma && scripts/demo.sh" || return 1
  # The test command's packages come from the mirror; its tests then run
  # without network (loopback only), so the packages are installed first.
  step root "scripts/deps.sh (the test command's packages)" "$r" root host 3600 pass "cd paloma && scripts/deps.sh" || return 1
  step root "scripts/test.sh" "$r" root none 9000 pass "cd paloma && scripts/test.sh" || return 1
}

user_run() {
  local r=$work/user-run start
  start=$(date +%s)
  make_root "$r" && chroot "$r" useradd -m -u 1000 -s /bin/bash tester && clone_into "$r/home/tester/paloma" 1000:1000 ||
    { row user "bootstrap Debian 12, add a user and clone" root FAILED $(( $(date +%s) - start )); return 1; }
  if [ -e "$r/usr/bin/sudo" ]; then row user "no sudo in the root" root FAILED 0; return 1; fi
  row user "bootstrap Debian 12 (minbase, git), add the user tester (no sudo) and clone" root passed $(( $(date +%s) - start ))
  local which
  for which in demo test; do
    local net=host
    [ "$which" = test ] && net=none
    step user "scripts/$which.sh (no packages yet)" "$r" tester "$net" 600 root-command "cd paloma && scripts/$which.sh" || return 1
    local log cmd
    log=$(ls "$logs"/user-*-scripts-"$which"-sh--no-packages-yet-.log | tail -n1)
    cmd=$(grep -m1 '^  apt-get update && ' "$log" | sed 's/^  //')
    step user "the root command scripts/$which.sh named" "$r" root host 3600 pass "$cmd" || return 1
    step user "scripts/$which.sh" "$r" tester "$net" 9000 pass "cd paloma && scripts/$which.sh" || return 1
  done
}

echo "fresh-root-check: checking $commit from $SRC in $work (mirror $mirror)" >&2
rc=0
if [ "$serial" -eq 1 ] || [ -n "$only" ]; then
  if [ "$only" != user ]; then root_run || rc=1; fi
  if [ "$only" != root ]; then user_run || rc=1; fi
else
  root_run & root_pid=$!
  user_run & user_pid=$!
  wait "$root_pid" || rc=1
  wait "$user_pid" || rc=1
fi
echo
echo "fresh-root-check: $commit"
cat "$table"
for s in "$logs"/*-test-summary.txt; do
  [ -f "$s" ] || continue
  echo
  echo "$(basename "$s" .txt):"
  cat "$s"
done
exit "$rc"
