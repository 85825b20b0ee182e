#!/usr/bin/env bash
# Runs the rollout playbook on two simulated cards, then the README's
# playbook under --check and --diff on a host that has none of its files,
# and checks that ansible-doc renders the modules.
# Usage: run_rollout.sh SOURCE_DIR ZORVISIM BIN_DIR...
# shellcheck source=tests/ansible/common.sh
source "$(dirname "$0")/common.sh"
cp "$src/examples/minimal.ini" "$src/examples/full.ini" "$work/"
sed 's/^HN = .*/HN = 4/' "$src/examples/full.ini" >"$work/out-of-range.ini"
new_host "$work/state" zorvi0 zorvi1
# Every name a backup of zorvi0 can take without a number while this test
# runs (ctest ends it after 400 seconds) is taken already.
mkdir -m 0700 "$work/backups"
now=$(date +%s)
for ((t = now - 1; t <= now + 400; t++)); do
  echo taken >"$work/backups/zorvi0.$(date -d "@$t" +%Y%m%dT%H%M%S).ini"
done
export ZORVI_ROLLOUT_DIR="$work"
# The build under test runs, whatever is installed: in the simulator's own
# mount namespace, /usr/sbin holds programs that fail if they are run.
mkdir "$work/installed"
for program in zorviconfig zorvitemplate; do
  printf '#!/bin/sh\necho "an installed %s ran" >&2\nexit 99\n' "$program" >"$work/installed/$program"
  chmod +x "$work/installed/$program"
done
on_host() {
  # shellcheck disable=SC2016
  "$sim" --state "$work/state" -- \
    sh -c 'mount --bind "$0" /usr/sbin && exec "$@"' "$work/installed" "$@"
}
on_host ansible-playbook -i localhost, --diff "$src/tests/ansible/rollout.yml"
# The module logs its invocation to the host's system log (the simulator
# keeps it), without the template's text.
"$sim" log --state "$work/state" >"$work/syslog"
grep -q 'Invoked with.*content=NOT_LOGGING_PARAMETER' "$work/syslog"
fails grep -E '\[CONFIG\]|VCQNP' "$work/syslog"

# The README's playbook, with fleet.ini beside it on the controller, on two
# simulated hosts reached through the zorvisim connection plugin and booting
# with packaging's units: a new card, which holds no template, and a used
# one, which holds minimal.ini. In check mode it tells the changes and loads
# nothing; then it loads both, reboots them and confirms the used one.
readme=$work/readme
mkdir "$readme"
cp "$src/ansible/ansible_collections/zorvi/nic/examples/rollout.yml" "$readme/"
cp "$src/examples/full.ini" "$readme/fleet.ini"
printf '[nic_servers]\n' >"$readme/inventory.ini"
for host in new used; do
  new_host "$readme/$host" zorvi0
  printf '%s zorvisim_state=%s\n' "$host" "$readme/$host" >>"$readme/inventory.ini"
done
cp "$work/state/cards/zorvi0/template.bin" "$readme/used/cards/zorvi0/"
for host in new used; do
  "$sim" boot --state "$readme/$host" "${units[@]}" >/dev/null
done
printf '[nic_servers:vars]\nansible_connection=zorvisim\nansible_become=false\n%s\n%s\n' \
  "zorvisim_launcher=$sim" "zorvisim_units=['${units[0]}','${units[1]}']" >>"$readme/inventory.ini"
readme_play() {
  ansible-playbook -i "$readme/inventory.ini" "$readme/rollout.yml" "$@" |
    tee "$readme/out"
}
cp "$readme/used/cards/zorvi0/template.bin" "$work/before.bin"
readme_play --check --diff
grep -E -q '^new +: ok=5 +changed=2 +unreachable=0 +failed=0 +skipped=0' "$readme/out"
grep -E -q '^used +: ok=5 +changed=2 +unreachable=0 +failed=0 +skipped=0' "$readme/out"
grep -q '^HN: 1 -> 2$' "$readme/out"
grep -q '^\[VNP\]$' "$readme/out"
grep -E -q '^[0-9]+ values change, [0-9]+ of them in [0-9]+ tables$' "$readme/out"
cmp "$readme/used/cards/zorvi0/template.bin" "$work/before.bin"
[ ! -e "$readme/new/cards/zorvi0/template.bin" ]
readme_play
grep -E -q '^new +: ok=5 +changed=2 +unreachable=0 +failed=0 +skipped=0' "$readme/out"
grep -E -q '^used +: ok=5 +changed=3 +unreachable=0 +failed=0 +skipped=0' "$readme/out"
for host in new used; do
  cmp "$readme/$host/cards/zorvi0/template.bin" "$readme/$host/cards/zorvi0/running.bin"
  "$sim" --state "$readme/$host" -- zorvitemplate list >"$readme/$host.list"
done
grep -q 'metadata 0x12332F5A .*reboot-pending no$' "$readme/new.list"
grep -q 'metadata 0x12332F5A .*reboot-pending no confirmed ' "$readme/used.list"
ls "$readme/used/var/lib/zorvi/zorvi0.armed" >/dev/null

# The template's temporary files went with their tasks.
fails grep . < <(find "$work/ansible-tmp" -name '*.ini')
ansible-doc zorvi.nic.zorvi_template zorvi.nic.zorvi_template_info >/dev/null
