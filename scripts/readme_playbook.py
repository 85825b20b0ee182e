#!/usr/bin/env python3
"""The README quotes a playbook of the tree as it stands.

  readme_playbook.py PLAYBOOK     (run from the top of the tree)
"""
import sys

with open("README.md", encoding="utf-8") as readme, open(sys.argv[1], encoding="utf-8") as play:
    text, playbook = readme.read(), play.read()
if "```yaml\n" + playbook + "```\n" not in text:
    print(f"README.md does not quote {sys.argv[1]} as it stands")
    sys.exit(1)
