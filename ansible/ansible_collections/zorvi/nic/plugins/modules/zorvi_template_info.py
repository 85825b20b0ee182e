#!/usr/bin/python
# Copyright (c) The zorviconfig developers
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: zorvi_template_info
short_description: Tell what the Kx3310 cards of a host hold
description:
  - Lists every network device of the C(zorvi) driver on the managed host
    (C(zorvitemplate list --json)), with the driver's version, the card's PCI device id and
    the template the card holds (its mode, METADATA and MODENAME), or the status the card
    answered instead.
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
    error:
      description: Why the device could not be asked, or null.
      type: str
  sample:
    - {"device": "zorvi0", "driver_version": "1.4.3.0", "pci_device_id": 13072,
       "template": true, "card_status": 0, "mode": 1, "metadata": "0x7432D90F",
       "modename": "four-function", "error": null}
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
    module.exit_json(changed=False, devices=devices)


if __name__ == "__main__":
    main()
