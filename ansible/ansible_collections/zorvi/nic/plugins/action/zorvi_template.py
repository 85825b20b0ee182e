# Copyright (c) The zorviconfig developers
# SPDX-License-Identifier: MIT
"""The controller's half of zorvi.nic.zorvi_template: reads src where the
playbook is, as ansible.builtin.template and copy do, and hands its text to
the module on the host as content."""

from ansible.errors import AnsibleError
from ansible.module_utils.common.text.converters import to_text
from ansible.module_utils.parsing.convert_bool import boolean
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    """Turns a src on the controller into content; passes the rest on."""

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)  # tmp has no effect since Ansible 2.5
        args = dict(self._task.args)
        src = args.get("src")
        if src is not None and args.get("content") is not None:
            result.update(failed=True, msg="src and content are mutually exclusive")
            return result
        if src is not None and not boolean(args.get("remote_src", False), strict=False):
            try:
                # A vaulted file is read decrypted, as copy reads it.
                path = self._loader.get_real_file(self._find_needle("files", src), decrypt=True)
                try:
                    with open(path, "rb") as source:
                        data = source.read()
                finally:
                    self._loader.cleanup_tmp_file(path)
            except (AnsibleError, OSError) as error:
                result.update(failed=True, msg="src %s: %s" % (src, to_text(error)))
                return result
            # src stays, only to name the text in the module's messages.
            args["content"] = to_text(data, errors="surrogate_or_strict")
        result.update(self._execute_module(module_args=args, task_vars=task_vars))
        return result
