# Copyright (c) The zorviconfig developers
# SPDX-License-Identifier: MIT
# A host of the card simulator, for the fleet tests: every command of the
# host runs in the simulated machine of its state folder (zorvisim --state
# FOLDER), where the host's cards, /opt, /run and boot id live. A command
# that asks the host to reboot (the simulator records the request) is
# answered, then the host boots (zorvisim boot) before the next command, as
# a real host goes down and comes back. A host whose network the template it
# runs cuts (the simulator tells so) is unreachable until it boots with
# another. Ansible reads the options below.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = """
name: zorvisim
short_description: A simulated host of the card simulator
options:
  state: {description: The host's state folder., vars: [{name: zorvisim_state}]}
  launcher: {description: The zorvisim launcher., vars: [{name: zorvisim_launcher}]}
  units:
    description: The unit files whose commands run at the host's boot.
    type: list
    elements: str
    default: []
    vars: [{name: zorvisim_units}]
"""

import os
import shutil
import subprocess

from ansible.errors import AnsibleConnectionFailure
from ansible.plugins.connection import ConnectionBase

# What zorvisim answers for a host that no network reaches.
UNREACHABLE = 124


class Connection(ConnectionBase):
    """Commands go through the simulator; files are on the same machine."""

    transport = "zorvisim"
    has_pipelining = True

    def _connect(self):
        self._connected = True
        return self

    def _sim(self, *args, **kwargs):
        return subprocess.run([self.get_option("launcher")] + list(args), check=False,
                              capture_output=True, **kwargs)

    def exec_command(self, cmd, in_data=None, sudoable=True):
        super().exec_command(cmd, in_data=in_data, sudoable=sudoable)
        state = self.get_option("state")
        done = self._sim("--state", state, "--", "/bin/sh", "-c", cmd, input=in_data,
                         cwd="/")
        if done.returncode == UNREACHABLE:
            raise AnsibleConnectionFailure("%s: no route to the host" % state)
        requested = os.path.join(state, "reboot-requested")
        if os.path.exists(requested):
            os.unlink(requested)
            booted = self._sim("boot", "--state", state, *self.get_option("units"))
            if booted.returncode != 0:
                raise AnsibleConnectionFailure("%s did not boot: %s" % (state, booted.stderr))
        return done.returncode, done.stdout, done.stderr

    def put_file(self, in_path, out_path):
        super().put_file(in_path, out_path)
        shutil.copyfile(in_path, out_path)

    def fetch_file(self, in_path, out_path):
        super().fetch_file(in_path, out_path)
        shutil.copyfile(in_path, out_path)

    def close(self):
        self._connected = False
