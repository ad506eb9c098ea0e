# Copyright: Kelm Computer Corporation
# The documentation of the action plugin plugins/action/warn.py, which does
# all of its work on the control node.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: warn
short_description: Show a message as one of the engine's warnings
description:
  - Shows I(msg) as a warning of the engine, beside the play's recap; changes nothing.
  - Runs on the control node only.
version_added: 4.0.0
options:
  msg:
    description: The warning's text.
    type: str
    required: true
author: Kelm deployment team
"""

EXAMPLES = r"""
- name: Warn about an error a successful run met
  kelm.kota.warn:
    msg: "mevrid install PRODA: installed with an error: [notify-end: CreateProcessA error 2 C:\\pre.exe]"
"""

RETURN = r"""
msg:
  description: The warning's text.
  returned: always
  type: str
"""
