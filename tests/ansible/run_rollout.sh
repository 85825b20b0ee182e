#!/usr/bin/env bash
# Runs the rollout playbook on two simulated cards, then the README's
# playbook under --check and --diff on a host that has none of its files,
# and checks that ansible-doc renders the modules.
# Usage: run_rollout.sh SOURCE_DIR ZORVISIM BIN_DIR...
set -euo pipefail
src=$1 sim=$2
shift 2
bins=$(IFS=:; echo "$*")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src/examples/minimal.ini" "$src/examples/full.ini" "$work/"
sed 's/^HN = .*/HN = 4/' "$src/examples/full.ini" >"$work/out-of-range.ini"
for card in zorvi0 zorvi1; do
  mkdir -p "$work/state/cards/$card"
  echo 0x3310 >"$work/state/cards/$card/pci_device_id"
done
printf 1.4.3.0 >"$work/state/driver_version"
# Every name a backup of zorvi0 can take without a number while this test
# runs (ctest ends it after 150 seconds) is taken already.
mkdir -m 0700 "$work/backups"
now=$(date +%s)
for ((t = now - 1; t <= now + 150; t++)); do
  echo taken >"$work/backups/zorvi0.$(date -d "@$t" +%Y%m%dT%H%M%S).ini"
done
export ANSIBLE_COLLECTIONS_PATH="$src/ansible" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp"
export ANSIBLE_REMOTE_TEMP="$work/ansible-tmp" ANSIBLE_NOCOLOR=1
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ZORVI_ROLLOUT_DIR="$work"
# The build under test runs, whatever is installed: in the simulator's own
# mount namespace, /usr/sbin holds programs that fail if they are run.
mkdir "$work/installed"
for program in zorviconfig zorvitemplate; do
  printf '#!/bin/sh\necho "an installed %s ran" >&2\nexit 99\n' "$program" >"$work/installed/$program"
  chmod +x "$work/installed/$program"
done
on_host() {
  # shellcheck disable=SC2016
  PATH="$bins:$PATH" "$sim" --state "$work/state" -- \
    sh -c 'mount --bind "$0" /usr/sbin && exec "$@"' "$work/installed" "$@"
}
on_host ansible-playbook -i localhost, --diff "$src/tests/ansible/rollout.yml"
# The module logs its invocation to the host's system log (the simulator
# keeps it), without the template's text.
"$sim" log --state "$work/state" >"$work/syslog"
grep -q 'Invoked with.*content=NOT_LOGGING_PARAMETER' "$work/syslog"
if grep -E '\[CONFIG\]|VCQNP' "$work/syslog"; then
  exit 1
fi

# The README's playbook, with fleet.ini beside it on the controller, on a
# card that holds minimal.ini: it tells the change and loads nothing.
mkdir "$work/readme"
cp "$src/ansible/ansible_collections/zorvi/nic/examples/rollout.yml" "$work/readme/"
cp "$src/examples/full.ini" "$work/readme/fleet.ini"
printf '[nic_servers]\nlocalhost ansible_connection=local ansible_become=false\n' \
  >"$work/readme/inventory.ini"
cp "$work/state/cards/zorvi0/template.bin" "$work/before.bin"
on_host ansible-playbook -i "$work/readme/inventory.ini" --check --diff "$work/readme/rollout.yml" |
  tee "$work/readme/out"
grep -E -q 'localhost +: ok=2 +changed=1 +unreachable=0 +failed=0 +skipped=1' "$work/readme/out"
grep -q '^-HN: 1$' "$work/readme/out"
grep -q '^+HN: 2$' "$work/readme/out"
cmp "$work/state/cards/zorvi0/template.bin" "$work/before.bin"

# The template's temporary files went with their tasks.
if find "$work/ansible-tmp" -name '*.ini' | grep .; then
  exit 1
fi
ansible-doc zorvi.nic.zorvi_template zorvi.nic.zorvi_template_info >/dev/null
