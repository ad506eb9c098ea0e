"""Checks of the kelm.kota collection that need no Windows host.

static_checks.py COLLECTION_DIR [ANSIBLE_CFG]  (deploy/ansible, or where it is
installed; the settings file is COLLECTION_DIR/ansible.cfg unless given)

- every task's module arguments against the argument specs of the modules
  installed here (ansible-doc --json): known names, required ones present,
  literal values among the choices;
- no program started by a bare name: argv lists begin with an absolute path
  or a variable, the role's program variables default to absolute paths,
  and the PowerShell scripts start programs by a path they build;
- every boolean in a condition or a derived value goes through `| bool`;
- the role's argument spec gives every option its type and its default (or
  makes it required) and matches defaults/main.yml; the role stops when
  the pre-processor is missing with present; every variable is named kota_component_*;
- Windows: the tool starts only after the folders' owner and access list,
  each staged file's SHA-256 and the absence of other files are checked;
  the staging folder is created with inheritance off and only SYSTEM and
  the Administrators; check mode plans with the staged release, in the
  tool's environment (the plan says whether MEVRID_ROLLBACK is on); the restart
  is the role's own task (no handlers), with its timeout a variable; the
  tasks carry the role's tag;
- ansible.cfg turns pipelining on for every connection.

Prints one line per fault and ends with status 1 when there is any."""
import configparser
import json
import os
import re
import subprocess
import sys

import yaml

root = sys.argv[1]
role = os.path.join(root, "roles", "kota_component")
faults = []


def fault(where, text):
    faults.append(f"{where}: {text}")


def load(path):
    with open(path) as f:
        return yaml.safe_load(f)


def tasks_of(path):
    """Every task of a task file or play, blocks opened."""
    def walk(items):
        for task in items or []:
            for key in ("block", "rescue", "always"):
                if key in task:
                    yield from walk(task[key])
            if not any(key in task for key in ("block", "rescue", "always")):
                yield task
    data = load(path) or []
    for item in data:
        if "hosts" in item:
            yield from walk(item.get("tasks", []) + item.get("pre_tasks", []) + item.get("post_tasks", []))
        else:
            yield from walk([item])


KEYWORDS = {
    "name", "when", "register", "changed_when", "failed_when", "until", "retries", "delay", "loop",
    "loop_control", "vars", "environment", "check_mode", "tags", "notify", "listen", "become",
    "become_user", "ignore_errors", "delegate_to", "run_once", "no_log", "args", "block", "rescue", "always",
}

task_files = sorted(os.path.join(role, d, f) for d in ("tasks", "handlers") if os.path.isdir(os.path.join(role, d))
                    for f in os.listdir(os.path.join(role, d)))
play_files = sorted(os.path.join(root, "playbooks", f) for f in os.listdir(os.path.join(root, "playbooks")))
tasks = [(path, task) for path in task_files for task in tasks_of(path)]

# --- module arguments against the installed argument specs ---------------------
modules = sorted({next(k for k in task if k not in KEYWORDS) for _, task in tasks})
docs = json.loads(subprocess.run(["ansible-doc", "--json", "-t", "module", *modules],
                                 capture_output=True, text=True, check=True).stdout)
for name in modules:
    if name not in docs:
        fault(name, "no documentation installed for this module")
for path, task in tasks:
    module = next(k for k in task if k not in KEYWORDS)
    where = f"{os.path.basename(path)}: {task.get('name', module)}"
    doc = docs.get(module, {}).get("doc", {})
    options = doc.get("options") or {}
    names = {alias: option for option_name, option in options.items()
             for alias in [option_name] + (option.get("aliases") or [])}
    args = task[module]
    if not isinstance(args, dict):
        if args is not None and not ({"free_form", "free-form", "_raw_params", "key_value"} & set(options)):
            fault(where, f"{module} takes no free-form argument")
        continue
    for key, value in args.items():
        if key not in names:
            if "key_value" not in options:
                fault(where, f"{module} has no argument {key!r}")
            continue
        choices = names[key].get("choices")
        if choices and isinstance(value, (str, int, bool)) and "{{" not in str(value) and value not in choices:
            fault(where, f"{module} {key}={value!r} is not one of {choices}")
    for option_name, option in options.items():
        if option.get("required") and option_name not in args and option_name != "key_value":
            fault(where, f"{module} needs {option_name}")

# --- programs by their absolute paths ------------------------------------------
def absolute(text):
    return text.startswith("/") or re.match(r"^[A-Za-z]:\\", text) is not None or text.startswith("{{")

for path, task in tasks:
    module = next(k for k in task if k not in KEYWORDS)
    args = task[module]
    if module.endswith(("win_command", "win_shell", ".command", ".shell", ".raw", ".script")):
        where = f"{os.path.basename(path)}: {task.get('name', module)}"
        argv = args.get("argv") if isinstance(args, dict) else None
        if isinstance(argv, list):
            first = argv[0]
            if isinstance(first, str) and not absolute(first):
                fault(where, f"starts {first!r} by a bare name")
        elif isinstance(argv, str):
            first = re.match(r"\{\{\s*\(*\[\s*'([^']*)'", argv)
            if first and not absolute(first.group(1)):
                fault(where, f"starts {first.group(1)!r} by a bare name")
        else:
            fault(where, f"{module} without argv: the program is not named by a path")
        if isinstance(task.get("loop"), list):
            for item in task["loop"]:
                if isinstance(item, list) and not absolute(str(item[0])):
                    fault(where, f"starts {item[0]!r} by a bare name")

defaults = load(os.path.join(role, "defaults", "main.yml"))
for name in ("kota_component_machine_tool", "kota_component_status_tool", "kota_component_wine",
             "kota_component_wineserver"):
    if not str(defaults.get(name, "")).startswith("/"):
        fault("defaults/main.yml", f"{name} is not an absolute path: {defaults.get(name)!r}")
derived = load(os.path.join(role, "vars", "main.yml"))
for name in ("kota_component__tool", "kota_component__planner", "kota_component__run_argv"):
    for literal in re.findall(r"\[\s*'([^']*)'", derived.get(name, "")):
        if not absolute(literal):
            fault("vars/main.yml", f"{name} starts {literal!r} by a bare name")
files = os.path.join(role, "files")
for script in os.listdir(files) if os.path.isdir(files) else []:
    if not script.endswith(".ps1"):
        continue
    with open(os.path.join(files, script)) as f:
        text = f.read()
    for line_number, line in enumerate(text.splitlines(), 1):
        code = line.split("#", 1)[0]
        if re.search(r"\b(Start-Process|cmd(\.exe)?\s|&\s*['\"]?[\w.-]+\.exe)", code):
            fault(f"files/{script}:{line_number}", "starts a program by a bare name")
        call = re.search(r"Invoke-Program\s+(\S+)", code)
        if call and not code.startswith("function") and not call.group(1).startswith("(Join-Path"):
            fault(f"files/{script}:{line_number}", "Invoke-Program needs a path it builds (Join-Path)")

# --- booleans through | bool ----------------------------------------------------
spec = load(os.path.join(role, "meta", "argument_specs.yml"))["argument_specs"]["main"]
options = spec["options"]
booleans = [n for n, o in options.items() if o.get("type") == "bool"]
booleans += ["ansible_check_mode", r"kota_component__record\.changed", r"kota_component__record\.restart_required",
             r"\.changed"]
pattern = re.compile(r"(?<![\w.])(" + "|".join(booleans) + r")\b(?!\s*\|\s*(default\([^)]*\)\s*\|\s*)?bool)")


def strings(value):
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict):
        for v in value.values():
            yield from strings(v)
    elif isinstance(value, list):
        for v in value:
            yield from strings(v)


def check_booleans(where, text, condition):
    body = text if condition else " ".join(re.findall(r"\{\{(.*?)\}\}|\{%(.*?)%\}", text, re.S).__str__().split())
    for match in pattern.finditer(body):
        fault(where, f"{match.group(1)} used without | bool in {' '.join(body.split())[:120]!r}")


for path, task in tasks:
    where = f"{os.path.basename(path)}: {task.get('name')}"
    for key in ("when", "changed_when", "failed_when", "until"):
        for text in strings(task.get(key)):
            check_booleans(where, text, True)
    for key, value in task.items():
        if key not in ("when", "changed_when", "failed_when", "until", "name"):
            for text in strings(value):
                check_booleans(where, text, False)
for name, value in derived.items():
    for text in strings(value):
        check_booleans(f"vars/main.yml: {name}", text, False)

# --- the argument spec, the defaults and the names ------------------------------
for name, option in options.items():
    if not name.startswith("kota_component_"):
        fault("argument_specs", f"{name} is not named kota_component_*")
    if "type" not in option:
        fault("argument_specs", f"{name} has no type")
    if not option.get("required") and "default" not in option:
        fault("argument_specs", f"{name} has no default")
    if not option.get("required") and name not in defaults:
        fault("defaults/main.yml", f"{name} is missing")
    elif not option.get("required") and "<" not in str(option.get("default")) and option.get("default") != defaults[name]:
        fault("argument_specs", f"{name} default {option.get('default')!r} is not defaults/main.yml's {defaults[name]!r}")
for name in list(defaults) + list(derived):
    if not name.startswith("kota_component_"):
        fault("defaults and vars", f"{name} is not named kota_component_*")
    if name in defaults and name not in options:
        fault("argument_specs", f"{name} of defaults/main.yml is not in the argument spec")
# ansible-core 2.14 passes a role's spec no required_if: the role includes
# options.yml (which fails) while kota_component__option_error says why.
if "kota_component_state == 'absent' or kota_component_preprocessor | length > 0" not in " ".join(
        derived.get("kota_component__option_error", "").split()):
    fault("vars/main.yml", "kota_component__option_error does not require the pre-processor with present")
first = next(tasks_of(os.path.join(role, "tasks", "main.yml")))
if "'options.yml' if kota_component__option_error" not in str(first.get("ansible.builtin.include_tasks")):
    fault("tasks/main.yml", "the first task does not stop on kota_component__option_error")

# --- Windows staging, check mode, restart and tags --------------------------------
def script_text(name):
    path = os.path.join(role, "files", name)
    return open(path).read() if os.path.exists(path) else ""


def before(text, first, then):
    return first in text and then in text and text.index(first) < text.index(then)


run_ps1, prepare_ps1 = script_text("run.ps1"), script_text("prepare.ps1")
tool_start = "Invoke-Program (Join-Path $Stage 'mevrid.exe')"
for first, what in (("Get-InsecureReason", "the folders' owner and access list"),
                    ("Get-FileHash -LiteralPath $path -Algorithm SHA256", "each staged file's SHA-256"),
                    ("Get-ChildItem -LiteralPath $Stage -Recurse -File", "files the release does not have")):
    if not before(run_ps1, first, tool_start):
        fault("files/run.ps1", f"the tool may start before {what} are checked")
if "'--release', $Stage" not in run_ps1 or "Join-Path $Stage 'mevrid-status.exe'" not in run_ps1:
    fault("files/run.ps1", "check mode does not plan with the staged release's mevrid-status.exe against it")
if not re.search(r"^\s*\$plan = Invoke-Program \(Join-Path \$Stage 'mevrid-status\.exe'\).* \$Environment$", run_ps1, re.M):
    fault("files/run.ps1", "check mode plans without the tool's environment (MEVRID_ROLLBACK)")
for text, what in (("SetAccessRuleProtection($true, $false)", "inheritance off"),
                   ("CreateDirectory($folder, $security)", "the access list given as the folder is created"),
                   ("Remove-Item -LiteralPath $file.FullName", "files the release does not have removed")):
    if text not in prepare_ps1:
        fault("files/prepare.ps1", f"no {what}")
if "$script:TrustedSids = @('S-1-5-18', 'S-1-5-32-544')" not in script_text("secure_folder.ps1"):
    fault("files/secure_folder.ps1", "trusts others than SYSTEM and the Administrators")
windows = [t for p, t in tasks if p.endswith("windows_stage.yml")]
names = [next(k for k in t if k not in KEYWORDS) + " " + t.get("name", "") for t in windows]
if not any("Prepare" in n for n in names[:1]) or not any("win_copy" in n for n in names):
    fault("tasks/windows_stage.yml", "the release is copied before its folder is made safe")
for path, task in tasks:
    where = f"{os.path.basename(path)}: {task.get('name')}"
    if "notify" in task or task.get("ansible.builtin.meta") == "flush_handlers" or task.get("meta") == "flush_handlers":
        fault(where, "notifies or flushes handlers: a restart must be the role's own task")
    if path.endswith("windows_stage.yml") and task.get("check_mode") is not False:
        fault(where, "skipped in check mode: the plan would not see the release being rolled out")
    reboot = task.get("ansible.windows.win_reboot")
    if reboot is not None and "kota_component_reboot_timeout" not in str(reboot.get("reboot_timeout")):
        fault(where, "the restart's timeout is not kota_component_reboot_timeout")
if os.path.isdir(os.path.join(role, "handlers")):
    fault("handlers/", "the role has handlers: flushing them would run other roles' too")
include = next(tasks_of(os.path.join(role, "tasks", "main.yml")))
if "kota_component" not in str(include.get("tags")) or "kota_component" not in str(
        include.get("ansible.builtin.include_tasks", {}).get("apply", {}).get("tags")):
    fault("tasks/main.yml", "the role's tasks do not carry the tag kota_component")

# --- pipelining -------------------------------------------------------------------
config = configparser.ConfigParser()
config.read(sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "ansible.cfg"))
if not config.getboolean("connection", "pipelining", fallback=False):
    fault("ansible.cfg", "pipelining is not on under [connection], where every connection reads it")

for text in faults:
    print(text)
print(f"static checks: {len(faults)} faults")
sys.exit(1 if faults else 0)
