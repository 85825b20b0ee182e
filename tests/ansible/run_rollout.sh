#!/usr/bin/env bash
# Runs the rollout playbook on a simulated card, then checks that ansible-doc
# renders the module.  Usage: run_rollout.sh SOURCE_DIR ZORVISIM BIN_DIR...
set -euo pipefail
src=$1 sim=$2
shift 2
bins=$(IFS=:; echo "$*")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src/examples/minimal.ini" "$src/examples/full.ini" "$work/"
sed 's/^HN = .*/HN = 4/' "$src/examples/full.ini" >"$work/out-of-range.ini"
export ANSIBLE_COLLECTIONS_PATH="$src/ansible" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp"
export ANSIBLE_REMOTE_TEMP="$work/ansible-tmp" ANSIBLE_NOCOLOR=1 ANSIBLE_NO_TARGET_SYSLOG=1
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ZORVI_ROLLOUT_DIR="$work"
PATH="$bins:$PATH" "$sim" --state "$work/state" -- \
  ansible-playbook -i localhost, --diff "$src/tests/ansible/rollout.yml"
ansible-doc zorvi.nic.zorvi_template >/dev/null
