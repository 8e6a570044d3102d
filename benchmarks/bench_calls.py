"""Per-call cost of every native entry point against the interpreter's own floor.

Each entry point is timed next to a built-in call of the same shape (the
floor) and, where one exists, next to its pure-Python twin. The timings are
interleaved (native, floor and twin back to back in every round) and the
minimum over the rounds is kept, so the ratios hold up on a busy machine.
Beside the times, callgrind's instruction count per call of each native entry
point (exact, free of machine noise) and malloc's in-use bytes per live
PyFormulasRegistry.

    python benchmarks/bench_calls.py --fast                  # quick look
    python benchmarks/bench_calls.py --baseline SITE         # before/after in one run

SITE is a directory holding another build of the package (for instance one
made with `pip install --target SITE .` from an older commit); its rounds are
interleaved with this build's.
"""

import argparse
import gc
import json
import os
import re
import shutil
import subprocess
import sys
import timeit

SETUP = """
import json
import kestrova
import kestrova._norvel_core as core
registry = core.PyFormulasRegistry()
matrix = core.PyCKMMatrix.from_topology()
d = {name: registry.get(name) for name in core.py_list_constants()}
d6 = dict.fromkeys(core.py_list_quarks(), 1)
items = list(d.items())
text = '{"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0}'
Registry = core.PyFormulasRegistry
"""

# (label, native statement, floor statement, pure twin statement, target ratio)
CASES = [
    ('PyFormulasRegistry.get("phi")', 'registry.get("phi")', 'd.get("phi")', None, 1.7),
    ("len(instance)", "len(registry)", "len(d)", None, 3.0),
    ("PyFormulasRegistry.version()", "Registry.version()", '"2.3.0".lower()', None, 1.6),
    ("jarlskog()", "matrix.jarlskog()", "(1.5).conjugate()", None, 1.5),
    ("is_unitary(0.0)", "matrix.is_unitary(0.0)", 'd.get("phi")', None, 1.2),
    (
        'py_get_constant("b3")',
        'core.py_get_constant("b3")',
        "json.loads(text)",
        'kestrova.Get("b3")',
        2.0,
    ),
    (
        "py_list_constants()",
        "core.py_list_constants()",
        "sorted(d)",
        "kestrova.list_constants()",
        5.4,
    ),
    ("py_list_quarks()", "core.py_list_quarks()", "sorted(d6)", "kestrova.list_quarks()", 2.1),
    ("PyFormulasRegistry()", "core.PyFormulasRegistry()", "dict(items)", None, 1.45),
    ("PyQuarkRegistry()", "core.PyQuarkRegistry()", "object()", None, 1.5),
]
ROLES = ("native", "floor", "pure")
CALLGRIND_CALLS = 2000


# ---- in the measured interpreter -------------------------------------------


def timers():
    """One calibrated timer per (case, role): each measurement lasts about 10 ms."""
    made = {}
    for i, case in enumerate(CASES):
        for role, stmt in zip(ROLES, case[1:4], strict=True):
            if stmt is None:
                continue
            timer = timeit.Timer(stmt, setup=SETUP)
            number, _ = timer.autorange()
            made[i, role] = (timer, max(1, number // 20))
    return made


def worker():
    """Answers each line on stdin with one round of every timing, as JSON."""
    made = timers()
    for _ in sys.stdin:
        result = {}
        for (i, role), (timer, number) in made.items():
            result[f"{i}:{role}"] = timer.timeit(number) / number * 1e9
        print(json.dumps(result), flush=True)


def memory():
    """malloc's in-use bytes per live PyFormulasRegistry, and per equal dict."""
    import kestrova._norvel_core as core

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(__file__)), "tests"))
    from heap import heap_reader  # the leak test's reader of the C heap

    in_use = heap_reader()

    count = 10_000
    items = list({name: 1.0 for name in core.py_list_constants()}.items())
    results = {}
    gc.disable()
    for label, make in (("registry", core.PyFormulasRegistry), ("dict", lambda: dict(items))):
        held = [None] * count  # the list's own storage comes first
        before = in_use()
        for i in range(count):
            held[i] = make()
        results[label] = (in_use() - before) / count
        del held
    print(json.dumps(results))


def count_calls(extra):
    """Runs every native and floor statement CALLGRIND_CALLS times, statement
    `extra` (native i as i, floor i as len(CASES) + i) twice as often."""
    scope = {}
    exec(SETUP, scope)
    for i, stmt in enumerate([case[1] for case in CASES] + [case[2] for case in CASES]):
        calls = CALLGRIND_CALLS * (2 if i == extra else 1)
        exec(compile(f"for _ in range({calls}):\n    {stmt}\n", stmt, "exec"), scope)


# ---- in the managing process -----------------------------------------------


def spawn(site, *args, env_extra=None, **kwargs):
    env = dict(os.environ, **(env_extra or {}))
    if site:
        env["PYTHONPATH"] = site + os.pathsep + env.get("PYTHONPATH", "")
    return subprocess.Popen([sys.executable, __file__, *args], env=env, text=True, **kwargs)


def timings(sites, rounds):
    """Minimum per (build, case, role) over `rounds` interleaved rounds."""
    workers = [
        spawn(site, "--worker", stdin=subprocess.PIPE, stdout=subprocess.PIPE) for site in sites
    ]
    best = [{} for _ in sites]
    for _ in range(rounds):
        for k, w in enumerate(workers):
            w.stdin.write("round\n")
            w.stdin.flush()
            for key, ns in json.loads(w.stdout.readline()).items():
                best[k][key] = min(ns, best[k].get(key, float("inf")))
    for w in workers:
        w.stdin.close()
        w.wait()
    return best


def instructions(site):
    """Instructions per call of each native statement, exact under callgrind.

    One run calls every statement N times; one more run per statement calls
    that one 2N times. The difference over N is the cost of one call, the
    interpreter's dispatch included, and needs no symbols from the module."""
    if shutil.which("valgrind") is None:
        return {}
    env = dict(os.environ, PYTHONHASHSEED="0")
    if site:
        env["PYTHONPATH"] = site

    def total(extra):
        run = subprocess.run(
            [
                "valgrind",
                "--tool=callgrind",
                "--callgrind-out-file=/dev/null",
                sys.executable,
                __file__,
                "--count-calls",
                str(extra),
            ],
            env=env,
            check=True,
            capture_output=True,
            text=True,
        )
        return int(re.search(r"refs:\s*([\d,]+)", run.stderr).group(1).replace(",", ""))

    base = total(-1)
    return {i: (total(i) - base) / CALLGRIND_CALLS for i in range(2 * len(CASES))}


def memory_of(site):
    # Every object through malloc, so the instance itself and the dict count too.
    proc = spawn(site, "--memory", stdout=subprocess.PIPE, env_extra={"PYTHONMALLOC": "malloc"})
    out, _ = proc.communicate()
    return json.loads(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fast", action="store_true", help="5 rounds instead of 15")
    parser.add_argument("--rounds", type=int, default=None)
    parser.add_argument("--baseline", metavar="SITE", help="another build to compare with")
    parser.add_argument("--no-callgrind", action="store_true")
    for hidden in ("--worker", "--memory"):
        parser.add_argument(hidden, action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--count-calls", type=int, default=None, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        return worker()
    if args.memory:
        return memory()
    if args.count_calls is not None:
        return count_calls(args.count_calls)

    sites = [args.baseline, None] if args.baseline else [None]
    names = ["before", "after"] if args.baseline else ["this build"]
    rounds = args.rounds or (5 if args.fast else 15)
    best = timings(sites, rounds)
    irs = [{} if args.no_callgrind else instructions(site) for site in sites]
    mems = [memory_of(site) for site in sites]

    import kestrova._norvel_core as core

    print(
        f"\n{rounds} interleaved rounds, minimum kept; "
        f"{core.PyFormulasRegistry.__name__} has the machine's shard count. "
        "ns per call, ratio to the floor, and callgrind's instructions per call (Ir) "
        "of the whole statement, the interpreter's dispatch included."
    )
    cols = "".join(f" {n + ' ns':>11} {n + ' x':>9} {n + ' Ir':>10}" for n in names)
    header = (
        f"{'entry point':30} {'floor ns':>9} {'floor Ir':>9}{cols} {'target':>7} {'pure ns':>8}"
    )
    print(header)
    print("-" * len(header))
    for i, case in enumerate(CASES):
        floor = best[-1][f"{i}:floor"]
        floor_ir = irs[-1].get(len(CASES) + i)
        row = f"{case[0]:30} {floor:9.0f} " + (f"{floor_ir:9.0f}" if floor_ir else f"{'-':>9}")
        for k in range(len(sites)):
            native = best[k][f"{i}:native"]
            ratio = native / best[k][f"{i}:floor"]
            ir = irs[k].get(i)
            row += (
                f" {native:11.0f} {ratio:8.2f}x {ir:10.0f}"
                if ir
                else f" {native:11.0f} {ratio:8.2f}x {'-':>10}"
            )
        pure = best[-1].get(f"{i}:pure")
        over = best[-1][f"{i}:native"] / floor > case[4]
        row += f" {case[4]:6.2f}x {pure:8.0f}" if pure else f" {case[4]:6.2f}x {'-':>8}"
        print(row + ("  (over)" if over else ""))
    print()
    for name, mem in zip(names, mems, strict=True):
        print(
            f"heap per live PyFormulasRegistry ({name}): {mem['registry']:.0f} B; "
            f"a dict of the same 17 floats: {mem['dict']:.0f} B "
            "(malloc's in-use bytes over 10^4 live instances, PYTHONMALLOC=malloc)"
        )


if __name__ == "__main__":
    main()
