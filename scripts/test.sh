#!/usr/bin/env bash
# Builds everything and runs every test: a g++ build, then a clang++ build
# with AddressSanitizer and UndefinedBehaviorSanitizer running the same tests.
# Usage: scripts/test.sh [stage...]   stages: gcc sanitize (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)

stage_gcc() {
  cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DZORVI_WERROR=ON
  cmake --build build -j "$jobs"
  ctest --test-dir build --output-on-failure -j "$jobs"
}

stage_sanitize() {
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DZORVI_WERROR=ON -DZORVI_SANITIZE=ON -DZORVI_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
  cmake --build build-sanitize -j "$jobs"
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
}

stages=("$@")
[ "${#stages[@]}" -gt 0 ] || stages=(gcc sanitize)
for s in "${stages[@]}"; do
  echo "=== stage: $s"
  "stage_$s"
done
