"""Per-host results of one play from the ansible.posix.json callback's output.

summary.py PLAY.json [RECORDS WARNINGS PLANS] prints one line per host that ran,
"host changed failed unreachable message", where the message is that of the
task that failed the host (blanks folded). With two more paths it also writes
there, per host, the run record the role kept ("host outcome exit_status
changed restart_required reboot_required", then "rolled_back" or
"rollback_failed" when the task's result says so), each warning ("host text") and
each plan shown in check mode ("host JSON")."""
import json
import sys

with open(sys.argv[1]) as f:
    text = f.read()
# Warnings may come before the document.
data = json.loads(text[text.index("{"):])
messages, records, warnings, plans = {}, {}, [], []
for play in data.get("plays", []):
    for task in play.get("tasks", []):
        for host, result in task.get("hosts", {}).items():
            if (result.get("failed") or result.get("unreachable")) and not result.get("failed_when_result") is False:
                if not result.get("ignore_errors"):
                    messages[host] = " ".join(str(result.get("msg", "")).split())
            facts = result.get("ansible_facts", {})
            if "kota_component_result" in facts:
                r = facts["kota_component_result"] or {}
                records[host] = " ".join(str(v).lower() for v in (
                    r.get("outcome"), r.get("exit_status"), r.get("changed"), r.get("restart_required"),
                    facts.get("kota_component_reboot_required"))) + "".join(
                    " " + key for key in ("rolled_back", "rollback_failed") if result.get(key))
            if task["task"]["name"].endswith("Show the plan") and isinstance(result.get("msg"), dict):
                plans.append((host, json.dumps(result["msg"])))
            for item in [result] + result.get("results", []):
                warnings += [(host, " ".join(str(w).split())) for w in item.get("warnings", [])]
for host, stats in sorted(data.get("stats", {}).items()):
    print(host, stats.get("changed", 0), stats.get("failures", 0), stats.get("unreachable", 0), messages.get(host, ""))
if len(sys.argv) > 4:
    with open(sys.argv[2], "w") as f:
        f.writelines(f"{host} {record}\n" for host, record in sorted(records.items()))
    with open(sys.argv[3], "w") as f:
        f.writelines(f"{host} {text}\n" for host, text in warnings)
    with open(sys.argv[4], "w") as f:
        f.writelines(f"{host} {text}\n" for host, text in plans)
