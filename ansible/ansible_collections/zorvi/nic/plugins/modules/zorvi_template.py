#!/usr/bin/python
# Copyright (c) The zorviconfig developers
# SPDX-License-Identifier: MIT

DOCUMENTATION = r"""
---
module: zorvi_template
short_description: Make a Kx3310 card hold a resource-configuration template
description:
  - Makes the card behind I(device) hold the template given as I(src) (a file on the
    controller, or on the host with I(remote_src)) or as I(content), as
    M(ansible.builtin.template) and M(ansible.builtin.copy) take theirs.
  - The text goes to a private temporary file on the host (mode 0600, removed at the end),
    which I(seal) seals first. C(zorvitemplate diff) compares it with what the card holds,
    and it is loaded only when a load would change something (C(zorviconfig DEVICE -f FILE),
    answering its two confirmations).
  - A template the card would refuse fails the task with the problems C(zorvitemplate check)
    finds in it, before anything is loaded; after a load the card is read back, and the task
    fails when it does not hold what was loaded.
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
      - The template file. On the controller it is looked for as M(ansible.builtin.copy)
        looks for its I(src) (a relative path in the role's or the playbook's C(files/)
        folder, then beside the playbook), and read there, decrypted when it is vaulted.
      - With I(remote_src), a path on the managed host.
      - One of I(src) and I(content) is required.
    type: str
  content:
    description:
      - The template's text, for example a Jinja2 template rendered by the C(template) lookup
        (see the examples), whose values come from the inventory (with I(seal)).
      - Mutually exclusive with I(src).
      - Never logged, on the host or in the task's result, since it may come from a vault; nor
        is the text of I(src).
    version_added: "1.1.0"
    type: str
  remote_src:
    description:
      - I(src) is a path on the managed host, such as a backup this module kept.
    version_added: "1.1.0"
    type: bool
    default: false
  seal:
    description:
      - Write the METADATA the template needs into it (C(zorvitemplate seal)) before it is
        checked, for a text whose values change without a new METADATA.
    version_added: "1.1.0"
    type: bool
    default: false
  backup:
    description:
      - Before a load, keep what the card holds as a loadable template file in I(backup_dir),
        a new file of mode 0600 named C(DEVICE.YYYYmmddTHHMMSS.ini) (C(.1.ini), C(.2.ini)...
        when that name is taken), and return its path in C(backup_file). No backup ever
        replaces another file.
      - When the card's template cannot be read, the task fails before anything is loaded,
        in check mode too. A card that holds no template answers with a status, as a card in
        trouble does, and which status means empty is the driver's; so a card that holds
        none is loaded with I(backup=false).
    type: bool
    default: false
  backup_dir:
    description:
      - The folder on the managed host for the backups; made with mode 0700 when missing.
    version_added: "1.1.0"
    type: path
    default: /var/backups/zorvi
  confirm:
    description:
      - Minutes (1 to 1440). A load is armed (C(zorvitemplate arm)) - unless confirmed within
        this many minutes of the next boot, the host loads the backup back and reboots, once.
        Needs I(backup=true).
    version_added: "1.2.0"
    type: int
  confirm_commit:
    description:
      - Confirms what an earlier task armed (C(zorvitemplate confirm)), and does nothing else.
    version_added: "1.2.0"
    type: bool
    default: false
  retry_reverted:
    description:
      - Loads a template (by METADATA) that this host reverted last; without it the task fails.
    version_added: "1.2.0"
    type: bool
    default: false
  state:
    description:
      - C(present) is the only state, in which the card holds the template.
    type: str
    choices: [present]
    default: present
attributes:
  action:
    support: full
    description: An action plugin reads I(src) on the controller.
  check_mode:
    support: full
    description: Reports the changes a load would make and loads nothing.
  diff_mode:
    support: full
    description: Shows what a load changes as C(zorvitemplate diff) tells it, the per-PF
      tables as the card's display shows them.
notes:
  - Every load leaves its records in the card tool's operation log, naming the temporary file.
seealso:
  - module: zorvi.nic.zorvi_template_info
"""

EXAMPLES = r"""
- name: The fleet's template, a file beside the playbook, on the first card
  zorvi.nic.zorvi_template:
    device: zorvi0
    src: fleet.ini
    backup: true
  register: template

- name: Reboot where the card took a new template
  ansible.builtin.reboot:
  when: template.reboot_required

- name: A queue count from the inventory, sealed on the host
  zorvi.nic.zorvi_template:
    device: zorvi0
    content: "{{ lookup('template', 'fleet.ini.j2') }}"
    seal: true

- name: Keep what a task with confirm loaded, once the host answers after its reboot
  zorvi.nic.zorvi_template:
    device: zorvi0
    confirm_commit: true

- name: Back to what the card held
  zorvi.nic.zorvi_template:
    device: zorvi0
    src: "{{ template.backup_file }}"
    remote_src: true
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
      description: The value the template gives.
      type: raw
  sample: [{"key": "HN", "card": 0, "file": 2}]
reboot_required:
  description:
    - True in every run while the card runs another template than it holds, as
      C(zorvi-boot.service) recorded at boot, and in check mode when a load would change it.
      Without that record, true when this task changed the card, with a warning.
  returned: always
  type: bool
backup_file:
  description: Path of the backup of what the card held before the load.
  returned: when I(backup) is true and a load ran
  type: str
  sample: /var/backups/zorvi/zorvi0.20261207T021033.ini
stdout:
  description: What C(zorviconfig) printed during the load.
  returned: when a load ran
  type: str
last_revert:
  description: The revert of this template here, when the task refused to load it again.
  returned: when refused
  type: dict
"""

import itertools
import json
import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_bytes


class Template:
    """The template's text in a private file on the host, and the name its
    messages give it instead of the file's."""

    def __init__(self, module):
        self.module = module
        params = module.params
        self.label = params["src"] or "content"
        if params["content"] is not None:
            text = to_bytes(params["content"], errors="surrogate_or_strict")
        else:
            try:
                with open(params["src"], "rb") as source:
                    text = source.read()
            except OSError as error:
                module.fail_json(msg="src %s cannot be read: %s" % (params["src"], error))
        # module.tmpdir is the task's own folder (0700), removed at the end.
        name = os.path.basename(params["src"] or "") or "template.ini"
        self.path = os.path.join(module.tmpdir, name)
        descriptor = os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(descriptor, "wb") as out:
            out.write(text)

    def named(self, text):
        return text.replace(self.path, self.label)

    def fail(self, what, rc, out, err):
        message = self.named((err or out).strip()) or "%s failed with exit status %d" % (what, rc)
        self.module.fail_json(msg=message, rc=rc, stdout=self.named(out), stderr=self.named(err))


def keep_backup(module, device, text):
    """`text` in a file of its own: a name taken already, by an earlier
    backup of the same second or anything else, gets the next number."""
    folder = module.params["backup_dir"]
    stamp = time.strftime("%Y%m%dT%H%M%S")
    try:
        os.makedirs(folder, mode=0o700, exist_ok=True)
        for number in itertools.count():
            path = os.path.join(folder, "%s.%s%s.ini" % (device, stamp,
                                                         ".%d" % number if number else ""))
            try:
                descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
                break
            except FileExistsError:
                continue
        try:
            with os.fdopen(descriptor, "wb") as out:
                out.write(text)
                out.flush()
                os.fsync(out.fileno())
        except OSError:
            os.unlink(path)
            raise
    except OSError as error:
        module.fail_json(msg="%s: cannot keep a backup in %s: %s; nothing was loaded"
                         % (device, folder, error))
    return path


def diff(module, zorvitemplate, template):
    """zorvitemplate diff's document of the card and the template, with its
    exit status and standard error."""
    rc, out, err = module.run_command([zorvitemplate, "diff", "--json", module.params["device"],
                                       template.path])
    try:
        return json.loads(out), rc, err
    except ValueError:
        return template.fail("zorvitemplate diff", rc, out, err)


def card_facts(module, zorvitemplate, device):
    """What zorvitemplate list tells of the device: whether a reboot is
    pending, whether a load is armed, the last revert."""
    out = module.run_command([zorvitemplate, "list", "--json"])[1]
    try:
        return [d for d in json.loads(out)["devices"] if d["device"] == device][0]
    except (ValueError, KeyError, TypeError, IndexError):
        return {}


def run_or_fail(module, argv, what):
    """A zorvitemplate command that must succeed."""
    rc, out, err = module.run_command(argv)
    if rc != 0:
        module.fail_json(msg="%s: %s" % (what, err.strip() or out.strip()), rc=rc)


def confirm_commit(module, zorvitemplate, device):
    """Keeps the template an earlier task armed: its revert is called off."""
    armed = card_facts(module, zorvitemplate, device).get("armed", False)
    if armed and not module.check_mode:
        run_or_fail(module, [zorvitemplate, "confirm", device], "%s: cannot confirm" % device)
    module.exit_json(changed=armed, changes=[], reboot_required=False)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            device=dict(type="str", required=True),
            src=dict(type="str"),
            # The text may come from a vault: never logged, nor returned.
            content=dict(type="str", no_log=True),
            remote_src=dict(type="bool", default=False),
            seal=dict(type="bool", default=False),
            backup=dict(type="bool", default=False),
            backup_dir=dict(type="path", default="/var/backups/zorvi"),
            confirm=dict(type="int"),
            confirm_commit=dict(type="bool", default=False),
            retry_reverted=dict(type="bool", default=False),
            state=dict(type="str", default="present", choices=["present"]),
        ),
        required_one_of=[("src", "content", "confirm_commit")],
        mutually_exclusive=[("confirm", "confirm_commit")],
        supports_check_mode=True,
    )
    params = module.params
    device = params["device"]
    if not device or "/" in device or device in (".", ".."):
        module.fail_json(msg="device %r is no network device name" % device)
    if params["confirm"] is not None and not (params["backup"] and 1 <= params["confirm"] <= 1440):
        module.fail_json(msg="confirm takes 1 to 1440 minutes, and backup: true to go back to")
    # PATH first, then the sbin folders: wherever the package put them.
    zorvitemplate = module.get_bin_path("zorvitemplate", required=True)
    zorviconfig = module.get_bin_path("zorviconfig", required=True)
    if params["confirm_commit"]:
        confirm_commit(module, zorvitemplate, device)
    template = Template(module)

    if params["seal"]:
        rc, out, err = module.run_command([zorvitemplate, "seal", template.path])
        if rc != 0:
            template.fail("zorvitemplate seal", rc, out, err)

    report, rc, err = diff(module, zorvitemplate, template)
    facts = card_facts(module, zorvitemplate, device)
    pending = facts.get("reboot_pending")
    if pending is None:
        module.warn("%s: no record of what the card runs since this boot (zorvi-boot.service "
                    "not installed or not run): reboot_required tells only whether this task "
                    "changed the card" % device)
    if report["status"] == "same":
        module.exit_json(changed=False, changes=[], reboot_required=bool(pending))
    if report["status"] != "changes":
        errors = ["%s:%d: error: %s" % (template.label, f["line"], f["message"])
                  for f in report.get("findings", []) if f["severity"] == "error"]
        module.fail_json(msg="\n".join([template.named(report["error"] or err.strip())] + errors),
                         rc=rc, findings=errors, stderr=template.named(err))
    # A status instead of the card's template may be an empty card or a card
    # in trouble: with a backup asked, it is never taken for empty.
    if params["backup"] and report["card_empty"]:
        module.fail_json(
            msg="%s: the card's template cannot be read (the card answered status %s), so it "
            "cannot be backed up; nothing was loaded. A card that holds no template answers a "
            "status too: load it with backup: false" % (device, report.get("card_status", "?")),
            card_status=report.get("card_status"))
    # A template this host took back once is not tried again by accident.
    reverted = facts.get("last_revert") or {}
    if reverted and not params["retry_reverted"]:
        checked = json.loads(module.run_command([zorvitemplate, "check", "--json",
                                                 template.path])[1])
        if checked.get("metadata") == reverted.get("metadata"):
            module.fail_json(msg="%s: template %s was reverted here at %s: %s. Load it again "
                             "with retry_reverted: true" % (device, reverted["metadata"],
                                                           reverted["at"], reverted["told"]),
                             last_revert=reverted)

    changes = report["changes"]
    result = dict(changed=True, changes=changes, reboot_required=True)
    # --diff reaches a module only as this attribute: Ansible has no public name for it.
    # It shows zorvitemplate diff's own text: tables as the card's display shows them.
    if module._diff:  # pylint: disable=protected-access
        result["diff"] = dict(prepared=module.run_command(
            [zorvitemplate, "diff", device, template.path])[1])
    if module.check_mode:
        module.exit_json(**result)

    if params["backup"]:
        rc, out, err = module.run_command([zorvitemplate, "export", device], encoding=None)
        # 1: the file is written but cannot carry all the card holds, so a
        # restore would not give the same bytes.
        if rc != 0:
            template.fail("zorvitemplate export", rc, "", err.decode(errors="replace"))
        result["backup_file"] = keep_backup(module, device, out)

    rc, out, err = module.run_command([zorviconfig, device, "-f", template.path],
                                      data="yes\nagree\n", binary_data=True)
    result["stdout"] = template.named(out)
    if rc != 0:
        # What the tool printed after its last prompt is its own account.
        message = out.rsplit("to continue:", 1)[-1].strip() or err.strip()
        module.fail_json(msg=template.named(message), rc=rc, stdout=result["stdout"],
                         stderr=template.named(err), changes=changes,
                         backup_file=result.get("backup_file"))
    # A driver may acknowledge a store and keep something else: read it back.
    report = diff(module, zorvitemplate, template)[0]
    if report["status"] != "same":
        module.fail_json(
            msg="%s: the card does not hold the template that was loaded, though the load "
            "reported success (%d values differ); the card, its driver or its firmware needs a "
            "look before another load" % (device, len(report["changes"])),
            changes=report["changes"], stdout=result["stdout"],
            backup_file=result.get("backup_file"))
    if params["confirm"]:
        run_or_fail(module, [zorvitemplate, "arm", "--within", str(params["confirm"]), device,
                             result["backup_file"]],
                    "%s: the template was loaded, but its revert cannot be armed" % device)
    result["reboot_required"] = pending is None or card_facts(
        module, zorvitemplate, device).get("reboot_pending") is not False
    module.exit_json(**result)


if __name__ == "__main__":
    main()
