#!/usr/bin/env bash
# What the key lookups cost: a full load of examples/full.ini on the simulated
# card (answering yes and agree), then the display of the template it stored.
# The simulator's launcher is no part of either: it sets up a sandbox, then
# its preload library and the dynamic loader start the program. So the
# instructions (callgrind) are those of the program's process less those of
# the same launcher running lookup_floor with nothing to do (the start-up).
# Wall times are taken inside one sandbox, its launcher started once, in
# pairs whose order alternates, so that a machine whose speed drifts still
# compares like with like: the load against the floor (lookup_floor: the same
# open, read and close of the file, once per lookup, and nothing else), the
# display against /bin/true. Each program timed there still pays its own
# exec and loader, as the one it is held against does. For the load also the
# system calls made on the template file per lookup (strace; every lookup
# opens the file once).
# Usage: scripts/lookup_bench.sh [BUILD_DIR [PAIRS]]   (default: build 40)
set -euo pipefail

# Inside the sandbox (the script runs itself there): PAIRS runs of the
# command and of the one after "--", in turn and each with ANSWERS on its
# standard input, three rounds first; prints the microseconds of each pair.
if [ "${1-}" = --pairs ]; then
  pairs=$2 answers=$3
  shift 3
  first=()
  while [ "$1" != -- ]; do
    first+=("$1")
    shift
  done
  shift
  second=("$@")
  micros() {
    local start=$EPOCHREALTIME
    "$@" <"$answers" >/dev/null 2>&1 || true
    local end=$EPOCHREALTIME
    echo $((${end/./} - ${start/./}))
  }
  for i in 1 2 3; do
    micros "${first[@]}" >/dev/null
    micros "${second[@]}" >/dev/null
  done
  for ((i = 0; i < pairs; ++i)); do
    if ((i % 2 == 0)); then
      a=$(micros "${first[@]}")
      b=$(micros "${second[@]}")
    else
      b=$(micros "${second[@]}")
      a=$(micros "${first[@]}")
    fi
    echo "$a $b"
  done
  exit 0
fi

cd "$(dirname "$0")/.."
self=$PWD/scripts/lookup_bench.sh
build=${1:-build}
pairs=${2:-40}
for tool in valgrind strace callgrind_annotate; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: apt-get install valgrind strace"
    exit 2
  fi
done
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target zorviconfig zorvisim zorvisim_preload lookup_floor >/dev/null
tool=$build/tool/zorviconfig
template=examples/full.ini
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
printf 'yes\nagree\n' >"$state/answers"
sim() {
  "$build/sim/zorvisim" --state "$state" -- "$@" <"$state/answers" >/dev/null 2>&1
}
load=("$tool" zorvi0 -f "$template")
display=("$tool" zorvi0)

# Instructions of the whole process, in an environment of PATH alone: the
# simulator and the dynamic loader go through the environment, so its size
# would show in the count.
instructions() {
  env -i PATH="$PATH" "$build/sim/zorvisim" --state "$state" -- valgrind --tool=callgrind \
    --callgrind-out-file="$state/cg.out" "$@" <"$state/answers" >/dev/null 2>&1
  callgrind_annotate "$state/cg.out" | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'
}

# Instructions of "$@" without the start-up, and the whole process's.
own_instructions() {
  local whole
  whole=$(instructions "$@")
  echo "$((whole - startup)) (whole process $whole)"
}

# Smallest, median and largest of a column of numbers.
spread() {
  sort -g | awk '{ v[NR] = $1 } END { print v[1], v[int((NR + 1) / 2)], v[NR] }'
}

# Times the command and the one after "--" in pairs inside one sandbox;
# prints the median ratio of the pairs with its range, and the median times
# of both, naming the second as $name.
against() {
  local name=$1
  shift
  "$build/sim/zorvisim" --state "$state" -- bash "$self" --pairs "$pairs" "$state/answers" "$@" \
    >"$state/pairs" 2>/dev/null
  local ratio time other_time
  read -ra ratio < <(awk '{ print $1 / $2 }' "$state/pairs" | spread)
  read -ra time < <(awk '{ print $1 }' "$state/pairs" | spread)
  read -ra other_time < <(awk '{ print $2 }' "$state/pairs" | spread)
  awk -v n="$name" -v r="${ratio[*]}" -v t="${time[1]}" -v u="${other_time[1]}" 'BEGIN {
    split(r, v, " ")
    printf "%.2fx %s (pairs %.2f..%.2f); medians %.2f ms and %.2f ms\n", v[2], n, v[1], v[3],
      t / 1000, u / 1000
  }'
}

sim "${load[@]}" || { echo "the load failed"; exit 1; }
startup=$(instructions "$build/tests/bench/lookup_floor" "$template" 0)
echo "the launcher's start-up: $startup instructions"
echo "full load of $template"
echo "  instructions:             $(own_instructions "${load[@]}")"
sim strace -c -U calls,name -o "$state/strace" -P "$template" -P "$PWD/$template" "${load[@]}"
awk '$2 == "openat" { opens = $1 }
     $2 == "total" { calls = $1 }
     $1 ~ /^[0-9]+$/ && $2 != "total" { list = list " " $2 " " $1 }
     END { printf "  system calls per lookup:  %.2f (%d lookups;%s)\n", calls / opens, opens, list }' \
  "$state/strace"
lookups=$(awk '$2 == "openat" { print $1 }' "$state/strace")
floor=("$build/tests/bench/lookup_floor" "$template" "$lookups")
echo "  wall time:                $(against floor "${load[@]}" -- "${floor[@]}")"
echo "  the floor, instructions:  $(own_instructions "${floor[@]}")"
echo "display of the stored template"
echo "  instructions:             $(own_instructions "${display[@]}")"
echo "  wall time:                $(against /bin/true "${display[@]}" -- /bin/true)"
