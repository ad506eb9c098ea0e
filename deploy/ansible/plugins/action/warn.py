# Copyright: Kelm Computer Corporation
"""kelm.kota.warn: shows msg as one of the engine's own warnings and changes
nothing. The role uses it for the errors a successful run still met, so that
they stand out beside the play's recap instead of hiding in a task's output."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("msg",))

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        msg = self._task.args.get("msg")
        if not isinstance(msg, str) or not msg:
            result.update(failed=True, msg="kelm.kota.warn needs a msg")
            return result
        result.update(changed=False, warnings=[msg], msg=msg)
        return result
