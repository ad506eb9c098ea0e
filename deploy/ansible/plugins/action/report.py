# Copyright: Kelm Computer Corporation
"""kelm.kota.report: the role's last word on a host, in one task on the
control node. It reads what files/run.sh or files/run.ps1 reported (the
first line says what happened; the run record follows "record"), keeps the
record as the fact kota_component_result, takes "changed" from it, and then
either fails the host with a message that names the cause, or shows each
error a successful run still met as one of the engine's warnings. An install
under MEVRID_ROLLBACK=on that failed says whether the machine was put back
as it was (outcome "rolled-back", rolled_back: true in the result) or
whether putting it back failed too (rollback_failed: true)."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import time

from ansible.module_utils.parsing.convert_bool import boolean
from ansible.plugins.action import ActionBase

SUCCESS = (0, 3010)


def error_text(error):
    return "[%s: %s error %s %s]" % (error.get("step"), error.get("call"), error.get("code"), error.get("subject"))


def run_failure(record, reference):
    """The message of a run whose exit status is a failure. Under
    MEVRID_ROLLBACK=on the record says what became of the machine: put back
    as it was before the run (rolled_back), or left half-way because putting
    it back failed too (rollback_failed), which the next run finishes."""
    head = "mevrid %s %s: %s, exit status %s" % (
        record.get("mode"), reference, record.get("outcome"), record.get("exit_status"))
    step = " at the step %s" % record["failed_step"] if record.get("failed_step") else ""
    if record.get("rolled_back"):
        head += "; the install failed%s and the machine was put back as it was before the run" % step
    elif record.get("rollback_failed"):
        head += ("; the install failed%s and putting the machine back failed too: the change stays marked"
                 " and the next run finishes it") % step
    return "%s; %s %s" % (head, " ".join(record.get("failed_phases") or []),
                          " ".join(error_text(e) for e in record.get("errors") or []))


def judge(outcome, reference, release_dir, remote_dir):
    """(record, failure message or "") of one run."""
    lines = (outcome.get("stdout") or "").strip().splitlines() + ["", ""]
    status, stderr = lines[0], (outcome.get("stderr") or outcome.get("msg") or "").strip()
    record = json.loads(lines[1]) if status == "record" else {}
    if status.startswith("missing-program "):
        return record, "%s: no program at %s on the host" % (reference, status[16:])
    if status.startswith("stale "):
        return record, "%s: the staged release still differs from %s (%s)" % (reference, release_dir, status[6:])
    if status.startswith("insecure "):
        return record, "%s: refused to run from %s: %s" % (reference, remote_dir, status[9:])
    if status == "no-record":
        return record, "mevrid left no record (exit status %s): %s" % (
            outcome.get("rc"), stderr or "nothing on standard error")
    if status == "record" and lines[2] == "restart-failed":
        return record, "%s: the restart the run asked for failed: %s" % (reference, stderr)
    if status == "record" and record.get("exit_status") not in SUCCESS:
        return record, run_failure(record, reference)
    if status not in ("record", "not-registered", "not-registered removed"):
        return record, "%s: unexpected answer from the host: %s %s" % (reference, status, stderr)
    return record, ""


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("outcome", "argv", "busy", "tries", "delay", "stale_ok",
                             "reference", "release_dir", "remote_dir", "reboot"))

    def _run_on_host(self, args, task_vars, result):
        """Runs argv on the host with the task's environment, tried again
        while its output says the machine is busy: the run and its judgement
        in one task, so an unchanged host costs the engine one task."""
        tries = max(1, int(args.get("tries", 1)))
        busy = str(args.get("busy", ""))
        outcome = {}
        for attempt in range(1, tries + 1):
            outcome = self._execute_module(module_name="ansible.builtin.command",
                                           module_args={"argv": args["argv"]}, task_vars=task_vars)
            result["attempts"] = attempt
            if not busy or busy not in (outcome.get("stdout") or "") or attempt == tries:
                break
            time.sleep(max(0, int(args.get("delay", 0))))
        return outcome

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        args = self._task.args
        outcome = self._run_on_host(args, task_vars, result) if args.get("argv") else args.get("outcome")
        if not isinstance(outcome, dict):
            result.update(failed=True, msg="kelm.kota.report needs the outcome of the run (stdout, stderr, rc)")
            return result
        # A staged copy that differs from the release is the caller's to
        # stage; the run after staging is judged.
        if boolean(args.get("stale_ok", False), strict=False) and (outcome.get("stdout") or "").startswith("stale "):
            result.update(changed=False, stale=True, msg="stale")
            return result
        reference = str(args.get("reference", ""))
        record, failure = judge(outcome, reference, args.get("release_dir", ""), args.get("remote_dir", ""))
        restart_left = bool(record.get("restart_required")) and not boolean(args.get("reboot", True), strict=False)
        result["ansible_facts"] = {"kota_component_result": record or None,
                                   "kota_component_reboot_required": restart_left}
        result["changed"] = bool(record.get("changed")) or outcome.get("stdout", "").startswith("not-registered removed")
        # Only a record of the all-or-nothing mode has these keys; without it
        # the result is as it always was.
        for key in ("rolled_back", "rollback_failed"):
            if key in record:
                result[key] = bool(record[key])
        if failure:
            result.update(failed=True, msg=" ".join(failure.split()))
        else:
            result["warnings"] = ["mevrid %s %s: %s with an error: %s" % (
                record.get("mode"), reference, record.get("outcome"), error_text(e)) for e in record.get("errors") or []]
            result["msg"] = "ok"
        return result
