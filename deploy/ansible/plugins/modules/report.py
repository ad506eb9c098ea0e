# Copyright: Kelm Computer Corporation
# The documentation of the action plugin plugins/action/report.py, which
# does all of its work on the control node.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
module: report
short_description: Judge one run of mevrid from what the role's script reported
description:
  - Reads the outcome of files/run.sh or files/run.ps1 of the role kota_component (its first line says what
    happened, the run record follows "record").
  - Sets the facts kota_component_result (the record, or null) and kota_component_reboot_required (a restart the
    run asked for and that was not done); changed is the record's changed.
  - Fails the host with a message naming the cause (a missing program, a staged copy that still differs, a folder
    others may write, a run without a record with the tool's standard error, a restart that failed, a failed run
    with its failed phases and Win32 errors); otherwise shows each error of the record as a warning.
  - An install under MEVRID_ROLLBACK=on that failed is said to have put the machine back as it was before the
    run (outcome rolled-back, with the step that failed), or, when putting it back failed too, to leave the
    change to the next run.
  - Runs on the control node only. The facts are set when the host does not fail.
version_added: 4.0.0
options:
  outcome:
    description: The registered result of the run (stdout, stderr, rc); not needed with O(argv).
    type: dict
  argv:
    description: A command to run on the host first (with the task's environment), whose result is judged.
    type: list
    elements: str
  busy:
    description: Text in the command's output that means the machine was busy; the command is then run again.
    type: str
    default: ""
  tries:
    description: How many times the command runs at most while the machine is busy.
    type: int
    default: 1
  delay:
    description: Seconds between those tries.
    type: int
    default: 0
  stale_ok:
    description: A staged copy that still differs from the release is returned as C(stale), not a failure.
    type: bool
    default: false
  reference:
    description: The product's reference, upper-cased, for the messages.
    type: str
    required: true
  release_dir:
    description: The release directory on the control node, for the messages.
    type: str
    default: ""
  remote_dir:
    description: The product's folder on the host, for the messages.
    type: str
    default: ""
  reboot:
    description: Whether the role restarts the host when the run asks for it.
    type: bool
    default: true
author: Kelm deployment team
"""

EXAMPLES = r"""
- name: Report the run
  kelm.kota.report:
    outcome: "{{ kota_component__run }}"
    reference: PRODA
    reboot: false
"""

RETURN = r"""
msg:
  description: The failure's text, or ok.
  returned: always
  type: str
rolled_back:
  description: The failed install put the component back as it was before the run (the record's rolled_back).
  returned: when the run was made with MEVRID_ROLLBACK=on
  type: bool
rollback_failed:
  description: Putting the component back failed too; the next run finishes the change (the record's rollback_failed).
  returned: when the run was made with MEVRID_ROLLBACK=on
  type: bool
"""
