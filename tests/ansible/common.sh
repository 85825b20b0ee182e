# shellcheck shell=bash disable=SC2034  # what it sets is for the script that sources it
# What both Ansible tests start from: their arguments, a scratch folder gone
# at exit, the build's programs first in PATH, Ansible's settings, the units a
# simulated host boots with, and a way to make such a host.
# Sourced with: SOURCE_DIR ZORVISIM BIN_DIR...
set -euo pipefail
src=$1 sim=$2
shift 2
bins=$(IFS=:; echo "$*")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$bins:$PATH" ANSIBLE_COLLECTIONS_PATH="$src/ansible" ANSIBLE_NOCOLOR=1
export ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_REMOTE_TEMP="$work/ansible-tmp"
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
export ANSIBLE_CONNECTION_PLUGINS="$src/tests/ansible/connection_plugins"
units=("$src/packaging/zorvi-boot.service" "$src/packaging/zorvi-revert@.service")
new_host() {  # state folder, card...: a machine whose cards are Kx3310s behind driver 1.4.3.0
  local state=$1 card
  shift
  for card; do
    mkdir -p "$state/cards/$card"
    echo 0x3310 >"$state/cards/$card/pci_device_id"
  done
  printf 1.4.3.0 >"$state/driver_version"
}
fails() {  # command...: the command fails
  ! "$@" || { echo "FAIL: $* succeeded"; return 1; }
}
