#!/usr/bin/env bash
# What the key lookups cost: a full load of examples/full.ini on the simulated
# card (answering yes and agree), then the display of the template it stored.
# For each: instructions of the whole process (callgrind), and wall time
# against /bin/true started by the same launcher, in pairs whose order
# alternates, so that a machine whose speed drifts still compares like with
# like. For the load also the system calls made on the template file per
# lookup (strace; every lookup opens the file once).
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
cmake --build "$build" --target zorviconfig zorvisim zorvisim_preload >/dev/null
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

# Runs the command and /bin/true in turn; prints the median ratio of the
# pairs with its range, and the median times of both.
against_true() {
  local i a b
  for i in 1 2 3; do
    micros "$@" >/dev/null
    micros /bin/true >/dev/null
  done
  for ((i = 0; i < pairs; ++i)); do
    if ((i % 2 == 0)); then
      a=$(micros "$@")
      b=$(micros /bin/true)
    else
      b=$(micros /bin/true)
      a=$(micros "$@")
    fi
    echo "$a $b"
  done >"$state/pairs"
  local ratio time true_time
  read -ra ratio < <(awk '{ print $1 / $2 }' "$state/pairs" | spread)
  read -ra time < <(awk '{ print $1 }' "$state/pairs" | spread)
  read -ra true_time < <(awk '{ print $2 }' "$state/pairs" | spread)
  awk -v r="${ratio[*]}" -v t="${time[1]}" -v u="${true_time[1]}" 'BEGIN {
    split(r, v, " ")
    printf "%.2fx /bin/true (pairs %.2f..%.2f); medians %.2f ms and %.2f ms\n", v[2], v[1], v[3],
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
echo "  wall time:                    $(against_true "${load[@]}")"
echo "display of the stored template"
echo "  instructions, whole process:  $(instructions "${display[@]}")"
echo "  wall time:                    $(against_true "${display[@]}")"
