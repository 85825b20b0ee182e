#!/usr/bin/env bash
# The METADATA printed for each example is the one the file carries, and a
# changed value gives a new one that the tool's own check then accepts.
set -euo pipefail
tool=$1
examples=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for file in "$examples"/*.ini; do
  expected=$(grep '^METADATA' "$file")
  actual=$("$tool" metadata "$file")
  [ "$actual" = "$expected" ] || { echo "$file: printed '$actual', file has '$expected'"; exit 1; }
done
sed 's/^HN = 1$/HN = 2/' "$examples/minimal.ini" >"$scratch/changed.ini"
resealed=$("$tool" metadata "$scratch/changed.ini" | tail -n 1)
[ "$resealed" != "$(grep '^METADATA' "$examples/minimal.ini")" ]
sed "s/^METADATA = .*/$resealed/" "$scratch/changed.ini" >"$scratch/sealed.ini"
[ "$("$tool" metadata "$scratch/sealed.ini")" = "$resealed" ]
echo "metadata ok"
