#!/usr/bin/env bash
# Installs the Debian packages a job needs, when any is missing. Safe to run
# again; does nothing when all are there.
#
#   scripts/deps.sh [--demo | --test | --wine]
#
#   --demo  what scripts/demo.sh needs: build the library, the virtual printer
#           and the example, and run them
#   --test  (the default) everything scripts/test.sh needs: the demo's set,
#           the test tools, the package checks and the Windows cross build
#           with Wine (left out when PALOMA_SKIP_WINE=1)
#   --wine  only what scripts/wine-tests.sh needs
#   --list  print the packages of the chosen set, one a line, and stop
#
# As root it runs apt-get itself. As another user it never calls sudo unless
# asked to (PALOMA_SUDO=1, and sudo exists): otherwise it prints the one
# command to run as root and exits with status 1, so that nothing waits for a
# password and nothing fails half way through later.
#
# apt-get's output goes to a log file (its path is printed); only a one-line
# note says what is being installed, and the log's end is shown on failure.
set -euo pipefail

demo_packages=(
  build-essential cmake pkg-config
  libcups2-dev libusb-1.0-0-dev libpango1.0-dev libcairo2-dev libzint-dev libspng-dev
  libcpp-httplib-dev libstb-dev fonts-dejavu-core nlohmann-json3-dev
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libudev-dev
  dpkg-dev file doxygen help2man
  cups cups-client cups-bsd
  fonts-liberation fonts-noto-cjk
  zbar-tools socat iproute2 util-linux procps qrencode
  umockdev libumockdev-dev gir1.2-umockdev-1.0
  python3 python3-pytest python3-setuptools python3-venv python3-pip python3-build python3-wheel
  python3-numpy
  chromium
  libpappl-dev cups-ipp-utils ghostscript
  clang libclang-rt-14-dev
)
wine_packages=(
  g++-mingw-w64-x86-64 wine wine64 fonts-wine googletest socat cmake libstb-dev
)

mode=test
list_only=0
for arg in "$@"; do
  case $arg in
    --demo) mode=demo ;;
    --test) mode=test ;;
    --wine) mode=wine ;;
    --list) list_only=1 ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "deps.sh: unknown argument $arg (try --help)" >&2; exit 2 ;;
  esac
done

case $mode in
  demo) packages=("${demo_packages[@]}") ;;
  wine) packages=("${wine_packages[@]}") ;;
  test)
    packages=("${demo_packages[@]}" "${test_packages[@]}")
    [ "${PALOMA_SKIP_WINE:-0}" = 1 ] || packages+=("${wine_packages[@]}")
    ;;
esac
# Each name once, in the order given.
declare -A seen=()
unique=()
for p in "${packages[@]}"; do
  [ -n "${seen[$p]:-}" ] && continue
  seen[$p]=1
  unique+=("$p")
done
packages=("${unique[@]}")

if [ "$list_only" = 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

installed() {  # a package counts only when fully installed, not when only its configuration is left
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
if [ "$(id -u)" -ne 0 ]; then
  if [ "${PALOMA_SUDO:-0}" = 1 ] && command -v sudo >/dev/null 2>&1; then
    apt=(sudo env DEBIAN_FRONTEND=noninteractive apt-get)
  else
    echo "deps.sh: ${#missing[@]} Debian packages are missing for this job: ${missing[*]}" >&2
    echo "deps.sh: run this as root, then run this script's caller again:" >&2
    echo >&2
    echo "  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}" >&2
    echo >&2
    if command -v sudo >/dev/null 2>&1; then
      echo "deps.sh: (or set PALOMA_SUDO=1 to let this script install them through sudo)" >&2
    fi
    exit 1
  fi
fi

log=$(mktemp "${TMPDIR:-/tmp}/paloma-deps.XXXXXX.log")
echo "deps.sh: installing ${#missing[@]} Debian packages (apt-get's output: $log)" >&2
if ! "${apt[@]}" update >"$log" 2>&1 ||
   ! "${apt[@]}" install -y --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "deps.sh: apt-get failed; the whole output is in $log" >&2
  exit 1
fi
rm -f "$log"
