#!/usr/bin/python
# Copyright (c) The zorviconfig developers
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: zorvi_template
short_description: Make a Kx3310 card hold the resource-configuration template of a file
description:
  - Compares the template stored on the card behind I(device) with the template file I(src)
    on the managed host (C(zorvitemplate diff)), and loads the file only when a load would
    change something (C(zorviconfig DEVICE -f SRC), answering its two confirmations).
  - A file the card would refuse fails the task with the problems C(zorvitemplate check)
    finds in it, before anything is loaded.
  - The card applies a new template after the next reboot of the operating system; a task
    that loaded one returns C(reboot_required=true).
version_added: "1.0.0"
author:
  - The zorviconfig developers
requirements:
  - C(zorviconfig) and C(zorvitemplate) on the managed host, run as root.
options:
  device:
    description:
      - The network device whose card is configured, for example C(zorvi0).
    type: str
    required: true
  src:
    description:
      - Path of the template file on the managed host.
    type: path
    required: true
  backup:
    description:
      - Before a load, write what the card holds as a loadable template file beside I(src),
        named after it with the date and time, and return its path in C(backup_file).
      - A card that holds no template has nothing to back up; the task then warns and goes on.
    type: bool
    default: false
  state:
    description:
      - C(present) is the only state, in which the card holds the template of I(src).
    type: str
    choices: [present]
    default: present
attributes:
  check_mode:
    support: full
    description: Reports the changes a load would make and loads nothing.
  diff_mode:
    support: full
    description: Shows the keys that change, as the card holds them and as the file gives them.
notes:
  - Every load leaves a begin and a result record in the card tool's operation log on the host.
"""

EXAMPLES = r"""
- name: Roll the fleet's template out to the first card
  zorvi.nic.zorvi_template:
    device: zorvi0
    src: /etc/zorvi/fleet.ini
    backup: true
  register: template

- name: Reboot where the card took a new template
  ansible.builtin.reboot:
  when: template.reboot_required
"""

RETURN = r"""
changes:
  description: One entry per key whose value a load changes (or would change in check mode).
  returned: always
  type: list
  elements: dict
  contains:
    key:
      description: The key, as the template file names it (for example C(QNP03)), or C(mode).
      type: str
    card:
      description: The value the card holds (a text for C(MODENAME), else a number).
      type: raw
    file:
      description: The value the file gives.
      type: raw
  sample: [{"key": "HN", "card": 0, "file": 2}]
reboot_required:
  description: True when the card took a new template, which it applies after the next reboot.
  returned: always
  type: bool
backup_file:
  description: Path of the backup of what the card held before the load.
  returned: when I(backup) is true and the card held a template
  type: str
  sample: /etc/zorvi/fleet.ini.2026-12-07@02:10:33~
stdout:
  description: What C(zorviconfig) printed during the load.
  returned: when a load ran
  type: str
"""

import json
import os
import time

from ansible.module_utils.basic import AnsibleModule

# zorvitemplate export: 1 means the file is written but cannot carry all the
# card holds, so a restore would not give the same bytes.
EXPORT_OK = 0


def errors_of(report):
    return ["%s:%d: error: %s" % (report["file"], f["line"], f["message"])
            for f in report.get("findings", []) if f["severity"] == "error"]


def backup_path(src):
    return "%s.%s~" % (src, time.strftime("%Y-%m-%d@%H:%M:%S"))


def fail(module, what, rc, out, err, **extra):
    message = (err or out).strip() or "%s failed with exit status %d" % (what, rc)
    module.fail_json(msg=message, rc=rc, stdout=out, stderr=err, **extra)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            device=dict(type="str", required=True),
            src=dict(type="path", required=True),
            backup=dict(type="bool", default=False),
            state=dict(type="str", default="present", choices=["present"]),
        ),
        supports_check_mode=True,
    )
    device, src = module.params["device"], module.params["src"]
    zorvitemplate = module.get_bin_path("zorvitemplate", required=True, opt_dirs=["/usr/sbin"])
    zorviconfig = module.get_bin_path("zorviconfig", required=True, opt_dirs=["/usr/sbin"])

    rc, out, err = module.run_command([zorvitemplate, "diff", "--json", device, src])
    try:
        report = json.loads(out)
    except ValueError:
        fail(module, "zorvitemplate diff", rc, out, err)
    if report["status"] == "same":
        module.exit_json(changed=False, changes=[], reboot_required=False)
    if report["status"] != "changes":
        errors = errors_of(report)
        module.fail_json(msg="\n".join([report["error"] or err.strip()] + errors), rc=rc,
                         findings=errors, stderr=err)

    changes = report["changes"]
    result = dict(changed=True, changes=changes, reboot_required=not module.check_mode)
    # --diff reaches a module only as this attribute: Ansible has no public name for it.
    if module._diff:  # pylint: disable=protected-access
        result["diff"] = dict(
            before_header="%s (card)" % device,
            after_header=src,
            before="".join("%s: %s\n" % (c["key"], c["card"]) for c in changes),
            after="".join("%s: %s\n" % (c["key"], c["file"]) for c in changes),
        )
    if module.check_mode:
        module.exit_json(**result)

    if module.params["backup"] and report["card_empty"]:
        module.warn("%s holds no template: there is nothing to back up" % device)
    elif module.params["backup"]:
        path = backup_path(src)
        rc, out, err = module.run_command([zorvitemplate, "export", "-o", path, device])
        if rc != EXPORT_OK:
            if os.path.exists(path):
                os.unlink(path)
            fail(module, "zorvitemplate export", rc, out, err)
        result["backup_file"] = path

    rc, out, err = module.run_command([zorviconfig, device, "-f", src],
                                      data="yes\nagree\n", binary_data=True)
    result["stdout"] = out
    if rc != 0:
        # What the tool printed after its last prompt is its own account.
        message = out.rsplit("to continue:", 1)[-1].strip() or err.strip()
        module.fail_json(msg=message, rc=rc, stdout=out, stderr=err, changes=changes,
                         backup_file=result.get("backup_file"))
    module.exit_json(**result)


if __name__ == "__main__":
    main()
