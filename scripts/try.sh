#!/usr/bin/env bash
# Sets up, then loads a template onto the simulated card and shows it.
# The tool runs through zorvisim: a private mount namespace whose /opt is
# ./zorvisim-state/opt, with a simulated card zorvi0 behind the tool device.
# Nothing outside this folder is touched, but for the compiler, CMake and
# Ninja, which are installed when missing; the tests and their tools are
# left to scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh try

cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DZORVI_TESTS=OFF
# What the README's "By hand" runs, zorvitemplate included.
cmake --build build -j "$(nproc)" --target zorviconfig zorvitemplate zorvisim zorvisim_preload
export PATH="$PWD/build/sim:$PWD/build/tool:$PWD/build/zorvitemplate:$PATH"
state=zorvisim-state

echo
echo "=== zorvisim -- zorviconfig zorvi0 -f examples/full.ini   (answering yes, agree)"
printf 'yes\nagree\n' | zorvisim --state "$state" -- zorviconfig zorvi0 -f examples/full.ini

echo
echo "=== zorvisim -- zorviconfig zorvi0"
zorvisim --state "$state" -- zorviconfig zorvi0

echo
echo "=== the operation log (/opt/zorvi/operation_logs/operations.log inside the sandbox)"
echo "    $state/opt/zorvi/operation_logs/operations.log:"
sed 's/\r$//; s/^/    /' "$state/opt/zorvi/operation_logs/operations.log"
echo "=== the system log of the simulated machine (zorvisim log --state $state):"
zorvisim log --state "$state" | sed 's/^/    /'
echo "=== the card's stored template: $state/cards/zorvi0/template.bin"
