#!/usr/bin/env bash
# Checks the layout of the sources, then builds everything and runs every
# test: a g++ build, then a clang++ build with AddressSanitizer and
# UndefinedBehaviorSanitizer running the same tests, then the fuzz targets for
# a bounded time, and real runs of the tool under valgrind on the simulated card.
# Usage: scripts/test.sh [stage...]   stages: format gcc sanitize fuzz valgrind (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test

jobs=$(nproc)

# Every C++ file as .clang-format lays it out, and every shell file of the
# tree (named .sh, or with a shell #! line or shell= directive) clean of
# what shellcheck finds. The Ansible collection and every playbook pass
# ansible-lint's production profile, the plugins pylint's errors and
# warnings, and the README quotes the collection's example playbook as it is.
stage_format() {
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
  git ls-files -z | xargs -0 awk '
    FILENAME ~ /\.sh$/ || (FNR == 1 && /^#!.*[\/ ](ba|da)?sh( |$)/) || /^# shellcheck shell=/ {
      print FILENAME
      nextfile
    }' | xargs shellcheck
  local collection=ansible/ansible_collections/zorvi/nic
  (cd "$collection" && ANSIBLE_COLLECTIONS_PATH="$PWD/../../.." ansible-lint --offline --nocolor \
    --profile production)
  local playbooks
  mapfile -t playbooks < <(git ls-files 'tests/ansible/*.yml')
  ANSIBLE_COLLECTIONS_PATH="$PWD/ansible" ansible-lint --offline --nocolor --profile production \
    "${playbooks[@]}"
  pylint --disable=C,R --score=n "$collection"/plugins/modules/*.py "$collection"/plugins/action/*.py
  python3 scripts/readme_playbook.py "$collection/examples/rollout.yml"
  verify_units packaging/*.service
}

# systemd reads each unit as it would on a host: the programs a unit runs
# are found in its search path (stand-ins in /usr/local/bin, in a mount
# namespace of its own), the manual pages it names are the tree's.
verify_units() {
  local aside
  aside=$(mktemp -d)
  mkdir -p "$aside/bin" "$aside/man/man8"
  cp packaging/*.8 "$aside/man/man8/"
  printf '#!/bin/sh\n' >"$aside/bin/zorvitemplate"
  chmod +x "$aside/bin/zorvitemplate"
  # shellcheck disable=SC2016
  MANPATH="$aside/man" unshare --mount sh -c 'mount --bind "$0" /usr/local/bin &&
    exec systemd-analyze verify "$@"' "$aside/bin" "$@"
  rm -rf "$aside"
}

# try.sh builds in build too, without the tests: they are switched back on.
stage_gcc() {
  cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DZORVI_WERROR=ON \
    -DZORVI_TESTS=ON
  cmake --build build -j "$jobs"
  ctest --test-dir build --output-on-failure -j "$jobs"
}

stage_sanitize() {
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DZORVI_WERROR=ON -DZORVI_SANITIZE=ON -DZORVI_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
  cmake --build build-sanitize -j "$jobs"
  # A report inside the tool ends it with status 1, which a test may expect
  # for other reasons: every report goes to a file, and any file fails the stage.
  local reports="$PWD/build-sanitize/sanitizer-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  chmod 1777 "$reports"  # some tests run the tool as another user
  ASAN_OPTIONS="log_path=$reports/asan" UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1" \
    LSAN_OPTIONS="log_path=$reports/lsan" \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
  if [ -n "$(ls -A "$reports")" ]; then
    echo "sanitizer reports:"
    cat "$reports"/*
    return 1
  fi
}

# Every fuzz target from its seed corpus, 12 seconds each; any crash,
# sanitizer report or leak fails the stage.
stage_fuzz() {
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DZORVI_WERROR=ON -DZORVI_FUZZ=ON -DZORVI_BENCHMARKS=OFF
  cmake --build build-fuzz -j "$jobs" --target zorvi_fuzzers
  tests/fuzz/run_fuzzers.sh build-fuzz 12
}

# Representative runs of the g++ build under valgrind on the simulated card:
# any memory error or definite/indirect leak fails the stage.
stage_valgrind() {
  cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DZORVI_WERROR=ON \
    -DZORVI_TESTS=ON
  cmake --build build -j "$jobs" --target zorviconfig zorvisim zorvisim_preload
  local state logs bad failed=0
  state=$(mktemp -d)
  logs="$state/valgrind"
  mkdir -p "$logs"
  bad="$state/bad.ini"
  sed 's/^HN = .*/HN = 4/' examples/full.ini >"$bad"
  # expected status, input, arguments
  vg_run() {
    local expect=$1 input=$2 status=0
    shift 2
    printf '%b' "$input" | build/sim/zorvisim --state "$state" -- \
      valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
      --errors-for-leak-kinds=definite,indirect --log-file="$logs/%p.log" \
      build/tool/zorviconfig "$@" >"$state/out" 2>&1 || status=$?
    echo "zorviconfig $*: status $status (expected $expect)"
    if [ "$status" != "$expect" ]; then
      cat "$state/out"
      failed=1
    fi
  }
  vg_run 0 '' zorvi0                                   # empty card
  vg_run 0 'yes\nagree\n' zorvi0 -f examples/full.ini  # successful load
  vg_run 0 '' zorvi0                                   # display of the full template
  vg_run 1 'no\n' zorvi0 -f examples/full.ini          # refused at the prompt
  vg_run 1 'yes\nagree\n' zorvi0 -f "$bad"              # value out of range
  vg_run 1 'yes\nagree\n' zorvi0 --file "$state/none"   # missing file
  vg_run 255 '' zorvi0123456789abcdef                  # device name refused
  echo "valgrind summaries of $(find "$logs" -name '*.log' | wc -l) runs:"
  grep -hE 'ERROR SUMMARY|definitely lost|indirectly lost|All heap blocks' "$logs"/*.log |
    sed 's/^==[0-9]*== //' | sort | uniq -c
  if grep -L 'ERROR SUMMARY: 0 errors' "$logs"/*.log | grep -q .; then
    failed=1
  fi
  rm -rf "$state"
  [ "$failed" = 0 ]
}

stages=("$@")
[ "${#stages[@]}" -gt 0 ] || stages=(format gcc sanitize fuzz valgrind)
for s in "${stages[@]}"; do
  echo "=== stage: $s"
  "stage_$s"
done
