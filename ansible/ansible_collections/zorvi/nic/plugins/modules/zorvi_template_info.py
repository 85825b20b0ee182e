#!/usr/bin/python
# Copyright (c) The zorviconfig developers
# SPDX-License-Identifier: MIT

DOCUMENTATION = r"""
---
module: zorvi_template_info
short_description: Tell what the Kx3310 cards of a host hold
description:
  - Lists every network device of the C(zorvi) driver on the managed host
    (C(zorvitemplate list --json)), with the driver's version, the card's PCI device id and
    the template the card holds (its mode, METADATA and MODENAME), or the status the card
    answered instead, and whether a reboot is pending (whether the card runs another template
    than it holds), from the record C(zorvi-boot.service) keeps at every boot.
  - It only reads, and changes nothing on the host or the card.
version_added: "1.1.0"
author:
  - The zorviconfig developers
requirements:
  - C(zorvitemplate) on the managed host, run as root.
options: {}
attributes:
  check_mode:
    support: full
    description: Reads as it always does.
  diff_mode:
    support: none
    description: Nothing changes, so there is nothing to show.
notes:
  - A device whose driver or card cannot be asked is listed with its C(error), and the task
    warns.
seealso:
  - module: zorvi.nic.zorvi_template
"""

EXAMPLES = r"""
- name: What the cards hold
  zorvi.nic.zorvi_template_info:
  register: cards

- name: The hosts whose cards do not all hold the fleet's template
  ansible.builtin.debug:
    msg: "{{ inventory_hostname }}: {{ cards.devices | map(attribute='metadata') | list }}"
  when: cards.devices | rejectattr('metadata', 'eq', '0x28BF5245') | list | length > 0
"""

RETURN = r"""
devices:
  description: One entry per network device of the zorvi driver, by name.
  returned: always
  type: list
  elements: dict
  contains:
    device:
      description: The network device's name.
      type: str
    driver_version:
      description: The driver's version as a load reads it, or null when the driver cannot tell.
      type: str
    pci_device_id:
      description: The card's PCI device id, or null when the driver does not report it
        (before 1.4.3.0) or cannot be asked.
      type: int
    pci_device_id_hex:
      description: The card's PCI device id as C(zorvitemplate list) and a template file's
        PCIDID write it, C(0x3310); null when pci_device_id is.
      type: str
      version_added: "1.2.0"
    template:
      description: True when the card gave its template.
      type: bool
    card_status:
      description: The status the card answered instead of its template, else 0. An empty
        card answers one, and so does a card in trouble, each with the driver's own number.
      type: int
    mode:
      description: The template's mode (VERSION / 2), or null.
      type: int
    metadata:
      description: The METADATA a file of the template carries, as C(0xXXXXXXXX), or null.
      type: str
    modename:
      description: The template's MODENAME, or null.
      type: str
    reboot_pending:
      description: True when the template the card holds is not the one it runs since the host
        booted (the next boot applies it), false when it is, null when unknown (no record of
        this boot, the boot service not installed or not run, or the card could not be asked).
      type: bool
    running_recorded:
      description: When the boot service recorded what the card runs, as
        C(YYYY-MM-DDTHH:MM:SSZ) in UTC, or null without a record of this boot.
      type: str
    armed:
      description: True while a load armed with C(confirm) waits for its confirmation.
      type: bool
    armed_until:
      description: When the host reverts the armed template unless it is confirmed, or null
        (not armed, or the boot after the load has not come yet).
      type: str
    confirmed:
      description: When the last armed load was confirmed, or null.
      type: str
    last_revert:
      description: The last time the host took an armed template back, or null - C(at),
        C(metadata) of the template reverted, C(outcome) (C(loaded) - the backup is back and
        the host rebooted; C(failed) - the backup could not be loaded, no reboot; C(disarmed) -
        another template was loaded since, nothing done), and C(told), the system log's line.
      type: dict
    error:
      description: Why the device could not be asked, or null.
      type: str
  sample:
    - {"device": "zorvi0", "driver_version": "1.4.3.0", "pci_device_id": 13072,
       "pci_device_id_hex": "0x3310", "template": true, "card_status": 0, "mode": 1,
       "metadata": "0x7432D90F", "modename": "four-function", "reboot_pending": false,
       "running_recorded": "2026-12-09T04:05:06Z", "armed": false, "armed_until": null,
       "confirmed": null, "last_revert": null, "error": null}
"""

import json

from ansible.module_utils.basic import AnsibleModule

# zorvitemplate list: 1 means some device could not be asked; it is listed
# with its error all the same.
LIST_PARTIAL = 1


def main():
    module = AnsibleModule(argument_spec={}, supports_check_mode=True)
    zorvitemplate = module.get_bin_path("zorvitemplate", required=True)
    rc, out, err = module.run_command([zorvitemplate, "list", "--json"])
    try:
        devices = json.loads(out)["devices"] if rc in (0, LIST_PARTIAL) else None
    except (ValueError, KeyError, TypeError):
        devices = None
    if devices is None:
        module.fail_json(msg=err.strip() or "zorvitemplate list failed with exit status %d" % rc,
                         rc=rc, stdout=out, stderr=err)
    if rc == LIST_PARTIAL:
        for line in err.splitlines():
            module.warn(line)
    for device in devices:
        pci_id = device.get("pci_device_id")
        device["pci_device_id_hex"] = None if pci_id is None else "0x%04X" % pci_id
    module.exit_json(changed=False, devices=devices)


if __name__ == "__main__":
    main()
