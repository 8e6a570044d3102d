"""No entry point leaks: thousands of calls down every path, success and
failure, leave the interpreter's block count, the reference counts of the
classes and of every object handed in or out, and the C heap where they were."""

import gc
import importlib
import os
import sys

import pytest
from cases import CASES, CKM, MATRIX, QUARK_REGISTRY, REGISTRY, Case, Quarks, Registry
from data import ALL
from heap import heap_reader
from outcomes import Raises, assert_same, outcome, panic_class

import kestrova._norvel_core as core

# Memory-checker runs set a small scale; they find leaks by other means.
SCALE = float(os.environ.get("KESTROVA_STRESS_SCALE", "1"))
CALLS = max(50, int(10_000 * SCALE))
WARM_UP = min(200, CALLS)

# A leak of one block or one reference per call shows as CALLS; what is left
# within these margins is the interpreter's own caches and free lists settling.
BLOCK_SLACK = 50
REFERENCE_SLACK = 10
HEAP_SLACK = 64 * 1024  # bytes: a 32-byte chunk, malloc's smallest, per call is five times this


# Under the memory checkers the interpreter allocates with their malloc, which
# glibc does not account for; they watch the C heap themselves.
heap_in_use = heap_reader() if sys.getallocatedblocks() > 0 else None


ALWAYS = [
    Registry,
    Quarks,
    CKM,
    panic_class(),
    type(core.py_get_constant),
    REGISTRY,
    QUARK_REGISTRY,
    MATRIX,
    True,
    False,
    None,
    KeyError,
    TypeError,
]


def run(case, count):
    call = case.call
    if not isinstance(case.expected, Raises):
        for _ in range(count):
            call()
    else:
        raises = case.expected.cls
        for _ in range(count):
            try:
                call()
            except raises:
                pass
            else:
                raise AssertionError("the call did not fail")


def counts(watched):
    gc.collect()
    return (
        sys.getallocatedblocks(),
        [sys.getrefcount(obj) for obj in watched],
        heap_in_use() if heap_in_use else 0,
    )


def assert_no_leak(case, count=CALLS, rounds=3):
    """A leak grows in every round; the interpreter's one-off growth (a table
    resized, a cache filled) shows in one round at most."""
    watched = ALWAYS + case.watched
    # What exists already is set aside from the collector, whose full passes over the
    # whole suite's objects (the science packages' among them) would cost more than
    # the calls; the calls' own garbage is still collected before every count.
    gc.freeze()
    try:
        run(case, WARM_UP)
        for _ in range(rounds):
            blocks, references, heap = counts(watched)
            run(case, count)
            blocks_after, references_after, heap_after = counts(watched)
            grown = (
                [f"{blocks_after - blocks} blocks"] if blocks_after - blocks > BLOCK_SLACK else []
            )
            grown += [
                f"{after - before} references to {obj!r}"
                for obj, before, after in zip(watched, references, references_after, strict=True)
                if abs(after - before) > REFERENCE_SLACK
            ]
            if heap_after - heap > HEAP_SLACK:
                grown.append(f"{heap_after - heap} bytes of C heap")
            if not grown:
                return
    finally:
        gc.unfreeze()
    pytest.fail(f"after {count} calls, {rounds} times over: " + ", ".join(grown))


@pytest.fixture
def quiet_stderr(monkeypatch):
    """Panics write a report; thousands of them would only fill the capture."""

    class Sink:
        def write(self, text):
            return len(text)

        def flush(self):
            pass

    monkeypatch.setattr(sys, "stderr", Sink())


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_entry_point_path_does_not_leak(case, quiet_stderr):
    assert_same(outcome(case.call), case.expected)  # the path under test is the one named
    assert_no_leak(case)


def test_reimport_does_not_leak():
    def reimport():
        saved = sys.modules.pop("kestrova._norvel_core")
        try:
            assert importlib.import_module("kestrova._norvel_core") is core
        finally:
            sys.modules["kestrova._norvel_core"] = saved

    # Each import goes through the finder and loader in Python: fewer rounds.
    assert_no_leak(Case(reimport, None, [core, core.__all__]), count=max(50, CALLS // 10))
    assert core.__all__ == ALL
