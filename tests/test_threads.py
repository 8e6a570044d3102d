"""Many threads on shared instances, with a json.loads that calls back into the
module and lets other threads run in the middle of a call."""

import json
import os
import random
import sys
import threading
import time

import pytest
from data import NAMES, QUARK_NAMES, VALUES, not_found

import kestrova._norvel_core as core

SCALE = float(os.environ.get("KESTROVA_STRESS_SCALE", "1"))
THREADS = 8
ROUNDS = max(20, int(2_000 * SCALE))
# Only a hang gets near this; a loaded CI machine does the normal run in seconds.
DEADLOCK_TIMEOUT = 600


@pytest.fixture
def busy_interpreter():
    """Switch threads as often as the interpreter allows."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


@pytest.fixture
def reentrant_loads(monkeypatch):
    """A json.loads that yields the interpreter lock and calls back into the
    module, a nested py_get_constant included, before parsing."""
    real = json.loads
    registry = core.PyFormulasRegistry()
    local = threading.local()
    calls = []
    inside = {"now": 0, "most": 0}
    counting = threading.Lock()

    def loads(text):
        calls.append(None)
        with counting:
            inside["now"] += 1
            inside["most"] = max(inside["most"], inside["now"])
        time.sleep(0)  # releases the GIL: another thread runs inside this call
        assert registry.get("n_gen") == VALUES["n_gen"]
        assert core.py_list_quarks() == QUARK_NAMES
        if not getattr(local, "nested", False):
            local.nested = True
            try:
                assert core.py_get_constant("phi")["value"] == VALUES["phi"]
            finally:
                local.nested = False
        time.sleep(0)
        with counting:
            inside["now"] -= 1
        return real(text)

    monkeypatch.setattr(json, "loads", loads)
    return calls, inside


def worker(seed, registry, quarks, matrix, barrier, errors):
    rng = random.Random(seed)
    try:
        barrier.wait()
        for _ in range(ROUNDS):
            name = rng.choice(NAMES)
            assert registry.get(name) == VALUES[name]
            assert len(registry) == len(NAMES)
            assert core.py_list_constants() == NAMES
            sheet = core.py_get_constant(name)
            assert sheet["name"] == name and sheet["value"] == VALUES[name]
            missing = name + "?"
            try:
                core.py_get_constant(missing)
            except KeyError as exc:
                assert exc.args == (not_found(missing),)
            else:
                raise AssertionError("a missing name was found")
            assert core.py_list_quarks() == QUARK_NAMES
            assert len(quarks) == 0
            assert matrix.is_unitary(rng.choice([0.0, 1e-12, 1]))
            assert not matrix.is_unitary(-1e-12)
            assert matrix.jarlskog() == 0.0
            assert core.PyCKMMatrix.from_topology().jarlskog() == 0.0
    except BaseException as exc:  # noqa: BLE001 - a panic in a thread must reach the test too
        errors.append(exc)


def test_threads_share_instances_through_reentrant_loads(busy_interpreter, reentrant_loads):
    registry = core.PyFormulasRegistry()
    quarks = core.PyQuarkRegistry()
    matrix = core.PyCKMMatrix.from_topology()
    barrier = threading.Barrier(THREADS)
    errors = []
    threads = [
        threading.Thread(
            target=worker,
            args=(seed, registry, quarks, matrix, barrier, errors),
            name=f"caller-{seed}",
            daemon=True,
        )
        for seed in range(THREADS)
    ]
    for thread in threads:
        thread.start()
    deadline = time.monotonic() + DEADLOCK_TIMEOUT
    for thread in threads:
        thread.join(max(0.0, deadline - time.monotonic()))
    stuck = [thread.name for thread in threads if thread.is_alive()]
    assert not stuck, f"deadlocked: {stuck}"
    assert errors == []
    calls, inside = reentrant_loads
    # Every successful lookup went through loads, the nested ones too, and
    # calls from several threads were inside it at once.
    assert len(calls) == 2 * THREADS * ROUNDS
    assert inside["most"] > 1
    assert len(registry) == len(NAMES) and registry.get("b3") == VALUES["b3"]


def test_instances_made_in_one_thread_serve_another():
    made = {}

    def make():
        made["registry"] = core.PyFormulasRegistry()
        made["matrix"] = core.PyCKMMatrix.from_topology()

    thread = threading.Thread(target=make)
    thread.start()
    thread.join(DEADLOCK_TIMEOUT)
    assert made["registry"].get("phi") == VALUES["phi"]
    assert made["matrix"].is_unitary(0.0) is True
