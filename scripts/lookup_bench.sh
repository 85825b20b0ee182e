#!/usr/bin/env bash
# What the key lookups cost: a full load of examples/full.ini on the simulated
# card (answering yes and agree), then the display of the template it stored.
# For each: instructions of the whole process (callgrind), and wall time
# against a program started by the same launcher, in pairs whose order
# alternates, so that a machine whose speed drifts still compares like with
# like: the load against the floor (lookup_floor: the same open, read and
# close of the file, once per lookup, and nothing else) and /bin/true, the
# display against /bin/true. For the load also the system calls made on the
# template file per lookup (strace; every lookup opens the file once).
# Usage: scripts/lookup_bench.sh [BUILD_DIR [PAIRS]]   (default: build 40)
set -euo pipefail
cd "$(dirname "$0")/.."
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

# Microseconds of one run of "$@".
micros() {
  local start=$EPOCHREALTIME
  sim "$@" || true
  local end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}

# Smallest, median and largest of a column of numbers.
spread() {
  sort -g | awk '{ v[NR] = $1 } END { print v[1], v[int((NR + 1) / 2)], v[NR] }'
}

# Runs the command and the one after "--" in turn; prints the median ratio
# of the pairs with its range, and the median times of both, naming the
# second as $name.
against() {
  local name=$1 i a b
  shift
  local -a first=() second=()
  while [ "$1" != -- ]; do
    first+=("$1")
    shift
  done
  shift
  second=("$@")
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
  done >"$state/pairs"
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
echo "full load of $template"
echo "  instructions, whole process:  $(instructions "${load[@]}")"
sim strace -c -U calls,name -o "$state/strace" -P "$template" -P "$PWD/$template" "${load[@]}"
awk '$2 == "openat" { opens = $1 }
     $2 == "total" { calls = $1 }
     $1 ~ /^[0-9]+$/ && $2 != "total" { list = list " " $2 " " $1 }
     END { printf "  system calls per lookup:      %.2f (%d lookups;%s)\n", calls / opens, opens, list }' \
  "$state/strace"
lookups=$(awk '$2 == "openat" { print $1 }' "$state/strace")
floor=("$build/tests/bench/lookup_floor" "$template" "$lookups")
echo "  wall time:                    $(against floor "${load[@]}" -- "${floor[@]}")"
echo "                                $(against /bin/true "${load[@]}" -- /bin/true)"
echo "  the floor, instructions:      $(instructions "${floor[@]}")"
echo "display of the stored template"
echo "  instructions, whole process:  $(instructions "${display[@]}")"
echo "  wall time:                    $(against /bin/true "${display[@]}" -- /bin/true)"
