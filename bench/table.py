#!/usr/bin/env python3
"""Turns Google Benchmark JSON reports into the benchmark table of bench/run.

Cases are registered as "<case>/ours/<size>" and "<case>/floor/<size>"; each
row pairs them: the median real time of the repetitions for ours and for the
floor, their ratio, the spread of the repetitions (noise: (max - min) /
median, the larger of the two sides), and the peak memory of each side.
The two benchmarks of other parts that have no such names are mapped below
(process_bench has a pair; registry_bench has no floor and shows ours only).
"""
import json
import statistics
import sys

# Benchmarks whose names do not follow "<case>/<ours|floor>/<size>".
RENAMED = {
    "BM_CreateProcessWaitClose": ("create_process", "ours", "1"),
    "BM_PosixSpawnWaitpid": ("create_process", "floor", "1"),
    "BM_CreateKey": ("reg_create_key", "ours", "1"),
    "BM_QueryValue": ("reg_query_value", "ours", "1"),
    "BM_OpenQueryClose": ("reg_open_query_close", "ours", "1"),
    "BM_EnumerateSubkeys": ("reg_enum_subkeys", "ours", None),
    "BM_EnumerateSubkeysBackwards": ("reg_enum_backwards", "ours", None),
}

# Cases whose size counts items (references, keys, spawns): the per-item
# time is shown beside the total.
PER_ITEM = {"setting_lookup", "notify_walk", "notify_walk_sid", "register_refs", "delete_refs", "spawn_setsid", "reg_enum_subkeys", "reg_enum_backwards"}

TO_US = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}


def split_name(run_name):
    """(case, role, size) of a run name, or None for one we do not know."""
    parts = [p for p in run_name.split("/") if ":" not in p and p not in ("real_time", "manual_time")]
    if parts and parts[0] in RENAMED:
        case, role, size = RENAMED[parts[0]]
        return case, role, size if size is not None else (parts[1] if len(parts) > 1 else "1")
    if len(parts) >= 2 and parts[1] in ("ours", "floor"):
        return parts[0], parts[1], parts[2] if len(parts) > 2 else "1"
    return None


def collect(paths):
    runs = {}  # (case, size) -> role -> list of run dicts
    rank = {}  # (case, size) -> (file, first registration, size) for the row order
    for file_index, path in enumerate(paths):
        with open(path) as f:
            report = json.load(f)
        for bench in report.get("benchmarks", []):
            if bench.get("run_type") != "iteration" or bench.get("error_occurred"):
                continue
            key = split_name(bench.get("run_name", bench["name"]))
            if key is None:
                continue
            case, role, size = key
            runs.setdefault((case, size), {}).setdefault(role, []).append(bench)
            place = (file_index, bench.get("family_index", 0), int(size) if size.isdigit() else 0)
            rank[(case, size)] = min(rank.get((case, size), place), place)
    return runs, sorted(runs, key=lambda key: rank[key])


def fmt_time(us):
    if us is None:
        return "—"
    if us >= 1e6:
        return f"{us / 1e6:.2f} s"
    if us >= 1e3:
        return f"{us / 1e3:.2f} ms"
    return f"{us:.1f} µs"


def fmt_kb(kb):
    if kb is None:
        return "—"
    return f"{kb / 1024:.1f} MiB"


def summarize(samples):
    """Median real time (µs), spread, and the memory counters of one side."""
    if not samples:
        return None
    times = [s["real_time"] * TO_US[s.get("time_unit", "ns")] for s in samples]
    median = statistics.median(times)
    spread = (max(times) - min(times)) / median if median > 0 else 0.0
    memory = None
    child = [s["child_rss_kb"] for s in samples if s.get("child_rss_kb", 0) > 0]
    own = [s["peak_rss_kb"] for s in samples if s.get("peak_rss_kb", 0) > 0]
    if child:
        memory = ("child", max(child))
    elif own:
        memory = ("self", max(own))
    return {"median": median, "spread": spread, "memory": memory, "n": len(times)}


def memory_cell(side):
    if side is None or side["memory"] is None:
        return "—"
    kind, kb = side["memory"]
    return f"{fmt_kb(kb)} ({'child' if kind == 'child' else 'proc'})"


def main(argv):
    runs, order = collect(argv[1:])
    header = ["case", "size", "ours", "floor", "ratio", "ours / item", "floor / item", "noise",
              "peak mem ours", "peak mem floor"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(["---"] * len(header)) + "|")
    for case, size in order:
        ours = summarize(runs[(case, size)].get("ours"))
        floor = summarize(runs[(case, size)].get("floor"))
        ratio = f"{ours['median'] / floor['median']:.2f}" if ours and floor and floor["median"] > 0 else "—"
        per_item = case in PER_ITEM and size.isdigit() and int(size) > 0
        ours_item = fmt_time(ours["median"] / int(size)) if per_item and ours else "—"
        floor_item = fmt_time(floor["median"] / int(size)) if per_item and floor else "—"
        noise = max(side["spread"] for side in (ours, floor) if side) if (ours or floor) else 0.0
        row = [case, size, fmt_time(ours["median"] if ours else None), fmt_time(floor["median"] if floor else None),
               ratio, ours_item, floor_item, f"±{noise * 50:.0f}%", memory_cell(ours), memory_cell(floor)]
        print("| " + " | ".join(row) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
