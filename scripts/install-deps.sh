#!/usr/bin/env bash
# Installs the Debian packages a command needs, those missing only.
# Usage: scripts/install-deps.sh try|test
#   try   what scripts/try.sh uses: a build of the programs and the simulator
#   test  what scripts/test.sh uses: try's, and every stage's tools
set -euo pipefail

# The build: the project is C and C++20, built by CMake with Ninja.
try=(g++ cmake ninja-build)

test=(
  # format: the file list, the C++ layout, shell, Ansible and Python linters,
  # and systemd reading the units in a mount namespace of its own.
  git clang-format shellcheck ansible-lint pylint systemd util-linux
  # gcc: the unit tests, benchmarks and case tables; the fault walk's libfiu.
  libgtest-dev libgmock-dev libbenchmark-dev python3 libfiu-dev fiu-utils
  # The install checks: manual pages, completion, the Debian package (CPack
  # finds its binaries with file) and Debian's checkers (hardening-check is
  # in devscripts), the RPM and its checkers (eu-strip splits its debug
  # information), and the collection, which the Ansible tests run too.
  man-db groff-base bash-completion dpkg-dev file lintian devscripts
  rpm rpmlint elfutils cpio ansible-core
  # sanitize and fuzz: clang with its sanitizer and libFuzzer runtimes.
  clang libclang-rt-14-dev
  # valgrind: the tool's runs under it.
  valgrind
)

case ${1-} in
try) wanted=("${try[@]}") ;;
test) wanted=("${try[@]}" "${test[@]}") ;;
*)
  echo "usage: $0 try|test" >&2
  exit 2
  ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing what $1 needs: ${missing[*]}"
  sudo=()
  [ "$(id -u)" = 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
