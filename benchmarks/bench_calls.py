"""Per-call cost of every native entry point against the interpreter's own floor.

Each entry point is timed next to a built-in call of the same shape (the
floor) and, where one exists, next to its pure-Python twin, all in one run.
The table at the end gives medians in ns per call and the ratio to the floor.

    python benchmarks/bench_calls.py --fast        # quick look
    python benchmarks/bench_calls.py               # pyperf's default rigour
"""

import timeit

import pyperf

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
    ('PyFormulasRegistry.get("phi")', 'registry.get("phi")', 'd.get("phi")', None, 2.0),
    ("len(PyFormulasRegistry)", "len(registry)", "len(d)", None, 4.0),
    ("PyFormulasRegistry.version()", "Registry.version()", '"2.3.0".lower()', None, 1.5),
    ("jarlskog()", "matrix.jarlskog()", "(1.5).conjugate()", None, 1.5),
    ("is_unitary(0.0)", "matrix.is_unitary(0.0)", 'd.get("phi")', None, 2.0),
    ('py_get_constant("b3")', 'core.py_get_constant("b3")', "json.loads(text)", 'kestrova.Get("b3")', 1.25),
    ("py_list_constants()", "core.py_list_constants()", "sorted(d)", "kestrova.list_constants()", 2.0),
    ("py_list_quarks()", "core.py_list_quarks()", "sorted(d6)", "kestrova.list_quarks()", 1.5),
    ("PyFormulasRegistry()", "core.PyFormulasRegistry()", "dict(items)", None, 1.0),
    ("PyQuarkRegistry()", "core.PyQuarkRegistry()", "object()", None, 2.0),
]


def main():
    runner = pyperf.Runner()
    medians = {}
    for label, native, floor, pure, _ in CASES:
        for role, stmt in (("native", native), ("floor", floor), ("pure", pure)):
            if stmt is None:
                continue
            # A compiled timeit loop, as pyperf's own timeit uses, but through
            # bench_time_func so that the manager process gets the result back.
            timer = timeit.Timer(stmt, setup=SETUP)
            bench = runner.bench_time_func(f"{label} [{role}]", timer.timeit)
            if bench is not None and not runner.args.worker:
                medians[label, role] = bench.median() * 1e9
    if runner.args.worker or not medians:
        return
    print()
    header = f"{'entry point':32} {'ns/call':>9} {'floor ns':>9} {'ratio':>7} {'target':>7} {'pure ns':>9}"
    print(header)
    print("-" * len(header))
    for label, _, _, pure, target in CASES:
        native, floor = medians[label, "native"], medians[label, "floor"]
        pure_text = f"{medians[label, 'pure']:9.0f}" if pure else f"{'-':>9}"
        ratio = native / floor
        mark = "" if ratio <= target else "  (over)"
        print(f"{label:32} {native:9.0f} {floor:9.0f} {ratio:6.2f}x {target:6.2f}x {pure_text}{mark}")


if __name__ == "__main__":
    main()
