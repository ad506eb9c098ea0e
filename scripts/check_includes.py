#!/usr/bin/env python3
"""Fails when an #include breaks the layering that ARCHITECTURE.md states.

Every tracked C and C++ file belongs to one layer, by its path; a quoted
include names a file of a layer, and the table ALLOWED says which layers a
layer may include. util/ holds generic text and time helpers: it includes
nothing of the tree and every layer may include it. Test sources beside the
code (*_test.cc) belong to the tests layer, except that the emulation's own
tests may also see its internals; what tests share (fixtures, helpers) lives
in tests/support/, and no other header includes a test framework. The
emulation's public headers are the only ones of platform/posix/ that tests,
tools and benchmarks may include; the logic's folders include nothing of
platform/posix/, their tests neither, and <windows.h> is only for the
Windows side. The status program sees of cli/ only its named leaf headers,
which reach no further into cli/ than each other. It also reports any cycle
between layers that the includes form.

Usage: scripts/check_includes.py [--list] [--self-test]
  --list       also print the layer graph the includes form
  --self-test  first check that a small tree with known breaks fails
"""
import os
import re
import subprocess
import sys
import tempfile

LOGIC = ["cli", "probe", "component", "services", "journal"]

# Which layers each layer may include (its own always). util, below them
# all, is added to every one but the resources' below.
ALLOWED = {
    "util": set(),
    "journal": {"seam"},
    "probe": {"seam", "journal"},
    "services": {"seam", "journal"},
    "component": {"seam", "journal", "services"},
    "cli": {"seam", "journal", "services", "component", "probe"},
    "seam": set(),
    "win32": {"seam"},
    "posix": {"seam"},
    "posix-tests": {"seam", "posix", "posix-public", "tests"},
    "status": {"seam", "journal", "services", "component", "probe", "cli"},
    "tools": {"seam", "posix-public"},
    "tests": {"seam", "journal", "services", "component", "probe", "cli", "status", "tools", "posix-public"},
    "nt_node": {"windows"},
    "windows": set(),
}
for _layer, _targets in ALLOWED.items():
    if _layer not in ("util", "nt_node", "windows"):
        _targets.add("util")

# The leaf headers of cli/: what the tool and mevrid-status share (the parsed
# options, their parser, the run's decision and the facts it is asked of).
# They and their sources include, of cli/, only each other, so the status
# program never reaches the tool's entry point or its modes.
CLI_LEAVES = {
    "cli/run_options.h",
    "cli/option_parser.h",
    "cli/run_decision.h",
    "cli/machine_facts.h",
}

# The emulation's face to tests, tools and benchmarks; the rest of
# platform/posix/ is its own business.
POSIX_PUBLIC = {
    "platform/posix/admin.h",
    "platform/posix/machine.h",
}

# Single files allowed one include their layer is not: the seam's Win32
# header takes its declarations from the emulation on POSIX. This edge does
# not count as layers including each other. (The status program reads the
# machine through the seam, platform/machine_reading.h, and includes nothing
# of platform/posix/.)
FILE_EXCEPTIONS = {
    ("platform/win32.h", "platform/posix/win32_api.h"),
}

# Who may include <windows.h> itself; everything else goes through
# platform/win32.h.
WINDOWS_H = re.compile(r"^(platform/win32\.h|platform/win32/|status/machine_access\.cc|tests/helpers/|tests/wine/|windows/|nt_node/)")

TEST_FILE = re.compile(r"(_test\.cc|_bench\.cc|_fuzz\.cc)$")
# A test framework's header: only test sources and the support of tests/
# and bench/ include one.
TEST_FRAMEWORK = re.compile(r"^(gtest|gmock|benchmark)/")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(path):
    if path in POSIX_PUBLIC:
        return "posix-public"
    top = path.split("/", 1)[0]
    if path.startswith("platform/posix/"):
        # The emulation's own tests see its internals and the test support.
        return "posix-tests" if TEST_FILE.search(path) else "posix"
    if TEST_FILE.search(path) or top in ("tests", "bench"):
        return "tests"
    if path.startswith("platform/win32/"):
        return "win32"
    if top == "platform":
        return "seam"
    if top in LOGIC or top in ("util", "status", "tools", "nt_node", "windows"):
        return top
    return None


def is_cli_leaf(path):
    """A leaf header of cli/, or the source that implements one."""
    return path in CLI_LEAVES or (path.endswith(".cc") and path[:-3] + ".h" in CLI_LEAVES)


def leaf_problem(path, source, name):
    """Why an include of cli/ breaks the leaf rule, or None."""
    if not name.startswith("cli/") or name in CLI_LEAVES:
        return None
    if source == "status":
        return f"status includes \"{name}\", not a leaf header of cli/"
    if is_cli_leaf(path):
        return f"a leaf of cli/ includes \"{name}\", which is not one"
    return None


def allowed(source, target):
    if source == target:
        return True
    # The emulation's public headers are part of it: they and the rest of the
    # emulation include each other freely.
    if {source, target} <= {"posix", "posix-public"}:
        return True
    return target in ALLOWED.get(source, set())


def tracked_sources(top):
    out = subprocess.run(["git", "ls-files", "*.c", "*.cc", "*.h"], cwd=top, capture_output=True, text=True,
                         check=True).stdout
    return [p for p in out.splitlines() if p]


def find_cycles(graph):
    cycles, state, stack = [], {}, []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                cycles.append(stack[stack.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            visit(node)
    return cycles


def check(top):
    """Returns the problems of the tree at top, the graph, and the counts."""
    files = tracked_sources(top)
    problems, graph, count = [], {}, 0
    for path in files:
        source = layer_of(path)
        if source is None:
            continue
        with open(os.path.join(top, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                kind, name = m.groups()
                count += 1
                where = f"{path}:{number}"
                top_folder = path.split("/", 1)[0]
                if kind == "<":
                    if name.lower() == "windows.h" and not WINDOWS_H.match(path):
                        problems.append(f"{where}: includes <windows.h>; use platform/win32.h")
                    if (TEST_FRAMEWORK.match(name) and not TEST_FILE.search(path)
                            and top_folder not in ("tests", "bench")):
                        problems.append(f"{where}: test support outside tests/support/")
                    continue
                if top_folder in LOGIC and name.startswith("platform/posix/"):
                    problems.append(f"{where}: {top_folder}/ includes \"{name}\"; its tests reach a machine "
                                    "through tests/support/")
                    continue
                if not os.path.exists(os.path.join(top, name)):
                    if os.path.exists(os.path.join(top, os.path.dirname(path), name)):
                        continue  # a resource beside its file
                    problems.append(f"{where}: \"{name}\" is not a path from the top of the tree")
                    continue
                target = layer_of(name)
                if target is None or (path, name) in FILE_EXCEPTIONS:
                    continue
                if target != source:
                    graph.setdefault(source, set()).add(target)
                leaf = leaf_problem(path, source, name)
                if leaf:
                    problems.append(f"{where}: {leaf}")
                elif not allowed(source, target):
                    what = "an internal header of the emulation" if target == "posix" else f"the {target} layer"
                    problems.append(f"{where}: {source} includes \"{name}\", {what}")
    # Parts of one whole are not a cycle.
    for pair in (("posix", "posix-public"), ("posix-public", "posix")):
        graph.get(pair[0], set()).discard(pair[1])
    for cycle in find_cycles(graph):
        problems.append("layers include each other: " + " -> ".join(cycle))
    return problems, graph, len(files), count


# A tree with one break of each kind, and the lines the check must give.
SELF_TEST_TREE = {
    "services/stop.cc": '#include "component/keys.h"\n',
    "component/keys.h": '#include "services/stop.h"\n',
    "services/stop.h": "",
    "cli/main.cc": "#include <windows.h>\n",
    "tools/reg.cc": '#include "platform/posix/registry/store.h"\n#include "platform/posix/admin.h"\n',
    "platform/posix/registry/store.h": "",
    "platform/posix/admin.h": "",
    "probe/probe.cc": '#include "probe.h"\n',
    "component/install_test.cc": '#include "platform/posix/admin.h"\n',
    "services/stop_fixture.h": "#include <gtest/gtest.h>\n",
    "util/text.cc": '#include "platform/win32.h"\n',
    "platform/win32.h": "",
    "status/look.cc": '#include "platform/posix/machine.h"\n',
    "platform/posix/machine.h": "",
    "status/plan.cc": '#include "cli/command_line.h"\n#include "cli/run_decision.h"\n',
    "cli/command_line.h": "",
    "cli/run_decision.h": "",
    "cli/run_decision.cc": '#include "cli/run_decision.h"\n#include "cli/usage.h"\n',
    "cli/usage.h": "",
}
SELF_TEST_EXPECTED = [
    'cli/main.cc:1: includes <windows.h>; use platform/win32.h',
    'cli/run_decision.cc:2: a leaf of cli/ includes "cli/usage.h", which is not one',
    'component/install_test.cc:1: component/ includes "platform/posix/admin.h"; its tests reach a machine '
    'through tests/support/',
    'probe/probe.cc:1: "probe.h" is not a path from the top of the tree',
    'services/stop.cc:1: services includes "component/keys.h", the component layer',
    'services/stop_fixture.h:1: test support outside tests/support/',
    'status/look.cc:1: status includes "platform/posix/machine.h", the posix-public layer',
    'status/plan.cc:1: status includes "cli/command_line.h", not a leaf header of cli/',
    'tools/reg.cc:1: tools includes "platform/posix/registry/store.h", an internal header of the emulation',
    'util/text.cc:1: util includes "platform/win32.h", the seam layer',
    'layers include each other: component -> services -> component',
]


def self_test():
    with tempfile.TemporaryDirectory() as top:
        for path, text in SELF_TEST_TREE.items():
            os.makedirs(os.path.join(top, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(top, path), "w") as f:
                f.write(text)
        subprocess.run(["git", "init", "-q", top], check=True)
        subprocess.run(["git", "-C", top, "add", "-A"], check=True)
        problems = check(top)[0]
    if problems != SELF_TEST_EXPECTED:
        print("include check self-test failed; it found:\n  " + "\n  ".join(problems))
        return False
    return True


def main():
    if "--self-test" in sys.argv and not self_test():
        return 1
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    problems, graph, files, count = check(top)
    if "--list" in sys.argv:
        for layer in sorted(graph):
            print(f"{layer}: {' '.join(sorted(graph[layer]))}")
    if problems:
        print("\n".join(problems))
        print(f"include check: {len(problems)} problem(s) in {files} files")
        return 1
    print(f"include check: {files} files, {count} includes, layering holds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
