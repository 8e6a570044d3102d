"""What the boundary drivers measure with: counts, quiet stderr, and a case's
own outcome told from a fault's."""

import gc
import os
import sys

from outcomes import Panic, Raises

DEBUG = hasattr(sys, "gettotalrefcount")


def silence_stderr():
    """Panics report on the C stream; thousands of reports would drown ours."""
    saved = os.dup(2)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    os.close(null)
    return saved


def expected(case, error):
    """The case's own outcome: its value, or its error (a panic by its class's
    name, which this process must not raise one to learn)."""
    raises = case.expected.type if isinstance(case.expected, Raises) else None
    if error is None or raises is None:
        return error is None and raises is None
    return type(error) is raises or (raises is Panic and type(error).__name__ == "PanicException")


def repeat(call, count):
    """Calls `count` times, keeping no outcome: out of memory, the interpreter
    has only a few MemoryError objects to reuse before it must allocate one."""
    for _ in range(count):
        call()


def attempt(call):
    try:
        call()
    except BaseException as exc:  # noqa: BLE001 - panics are BaseExceptions
        return exc
    return None


def totals():
    gc.collect()
    return (sys.gettotalrefcount() if DEBUG else 0), sys.getallocatedblocks()


def leak_deltas(run, warm_up, rounds):
    """Deltas of (references, blocks) over each measured round."""
    for _ in range(warm_up):
        run()
    # Both counts stay bound throughout, so each measure sees as many of them.
    deltas, before, after = [], totals(), totals()
    for _ in range(rounds):
        before = totals()
        run()
        after = totals()
        deltas.append((after[0] - before[0], after[1] - before[1]))
    return deltas
