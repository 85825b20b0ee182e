#!/usr/bin/env bash
# A fleet of four simulated hosts (tests/ansible/fleet.yml), each reached
# through the zorvisim connection plugin beside it and booting with
# packaging's units. The rollout runs a host a wave: first one card does
# not keep what it is given; then one host's new template cuts its
# network, and the host takes it back by itself; then that host refuses the
# template. Between the runs it checks what each host's card holds and runs.
# Usage: run_fleet.sh SOURCE_DIR ZORVISIM BIN_DIR...
# shellcheck source=tests/ansible/common.sh
source "$(dirname "$0")/common.sh"
export ANSIBLE_NO_TARGET_SYSLOG=1

inventory=$work/inventory.yml
printf 'fleet:\n  hosts:\n' >"$inventory"
for host in zorvi-a zorvi-b zorvi-c zorvi-d; do
  new_host "$work/$host" zorvi0
  if [[ $host == zorvi-[ac] ]]; then
    printf 'yes\nagree\n' | "$sim" --state "$work/$host" -- \
      zorviconfig zorvi0 -f "$src/examples/minimal.ini" >/dev/null
  fi
  "$sim" boot --state "$work/$host" "${units[@]}" >/dev/null
  printf '    %s:\n      zorvisim_state: %s\n' "$host" "$work/$host" >>"$inventory"
done
cat >>"$inventory" <<VARS
  vars:
    ansible_connection: zorvisim
    zorvisim_launcher: $sim
    zorvisim_units: [${units[0]}, ${units[1]}]
VARS

play() {  # output file, tags: the play's output there; its exit status
  local out=$work/$1.out
  shift
  ansible-playbook -i "$inventory" -e "fleet_file=$src/examples/full.ini" \
    "$src/tests/ansible/fleet.yml" --tags "$@" >"$out" 2>&1 || { cat "$out"; return 1; }
  cat "$out"
}
# host file: the card's stored (template) or running (running) record
card() { echo "$work/$1/cards/zorvi0/$2.bin"; }
# output host pattern: the host's line of the play recap
recap() { grep -E -q "^$2 +: $3" "$work/$1.out" || { echo "FAIL: $2's recap is not $3"; return 1; }; }

# A card that acknowledges the store and keeps nothing fails its task after
# the load is read back, and its wave stops the rollout.
cp "$(card zorvi-a template)" "$work/minimal.bin"
touch "$work/zorvi-b/faults/keep-nothing"
fails play keep-nothing rollout
grep -q 'zorvi-b.*the card does not hold the template that was loaded' "$work/keep-nothing.out"
recap keep-nothing zorvi-a 'ok=6 +changed=3 '
recap keep-nothing zorvi-b 'ok=1 +changed=0 .*failed=1'
fails grep -q '^zorvi-[cd] ' "$work/keep-nothing.out"
cp "$(card zorvi-a template)" "$work/full.bin"
cmp "$(card zorvi-a template)" "$(card zorvi-a running)"
[ ! -e "$(card zorvi-b template)" ] && [ ! -e "$(card zorvi-d template)" ]
cmp "$(card zorvi-c template)" "$work/minimal.bin"
ls "$work/zorvi-a/backups/"zorvi0.*.ini >/dev/null

# full.ini cuts zorvi-c's network: once it runs it, the host answers no
# more, and its reboot task times out; the rollout stops before zorvi-d.
rm "$work/zorvi-b/faults/keep-nothing"
echo 0x12332F5A >"$work/zorvi-c/cut-network"
fails play cut rollout
recap cut zorvi-a 'ok=5 +changed=0 .*skipped=1'
recap cut zorvi-b 'ok=6 +changed=2 '
recap cut zorvi-c 'ok=2 +changed=1 .*failed=1'
fails grep -q '^zorvi-d ' "$work/cut.out"
cmp "$(card zorvi-c running)" "$work/full.bin"
[ ! -e "$(card zorvi-d template)" ]
# The host takes the template back by itself: its timer runs the revert,
# which loads the backup and asks for a reboot.
"$sim" timers --state "$work/zorvi-c" "${units[@]}"
cmp "$(card zorvi-c template)" "$work/minimal.bin"
grep -q 'systemctl reboot' "$work/zorvi-c/reboot-requested"
"$sim" boot --state "$work/zorvi-c" "${units[@]}"

# The next run reports the revert and refuses that template there, and the
# rollout stops again before zorvi-d.
fails play refused rollout
grep -q 'zorvi-c.*template 0x12332F5A was reverted here at .*retry_reverted' \
  "$work/refused.out"
recap refused zorvi-c 'ok=1 +changed=0 .*failed=1'
fails grep -q '^zorvi-d ' "$work/refused.out"
[ ! -e "$(card zorvi-d template)" ]

play rest pending,facts
