"""Per-host results of one play from the ansible.posix.json callback's output:
one line per host that ran, "host changed failed unreachable message", where
the message is that of the task that failed the host (blanks folded)."""
import json
import sys

with open(sys.argv[1]) as f:
    text = f.read()
# Warnings may come before the document.
data = json.loads(text[text.index("{"):])
messages = {}
for play in data.get("plays", []):
    for task in play.get("tasks", []):
        for host, result in task.get("hosts", {}).items():
            if (result.get("failed") or result.get("unreachable")) and not result.get("failed_when_result") is False:
                if not result.get("ignore_errors"):
                    messages[host] = " ".join(str(result.get("msg", "")).split())
for host, stats in sorted(data.get("stats", {}).items()):
    print(host, stats.get("changed", 0), stats.get("failures", 0), stats.get("unreachable", 0), messages.get(host, ""))
