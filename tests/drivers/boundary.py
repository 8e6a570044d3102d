"""Drives the call table's cases through the checks that need a process of
their own: reference-leak rounds, memory-fault injection and recursion
headroom. Run by `nox -s memory`; pytest does not collect it.

Usage: python tests/drivers/boundary.py refleaks|faults [case-substring]
"""

import gc
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from cases import CASES
from outcomes import Panic, Raises

import kestrova._norvel_core as core

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


# ---- reference leaks --------------------------------------------------------


def refleaks(selected, warm_up=3, rounds=3, calls=50):
    bad = 0
    saved = silence_stderr()
    try:
        for name, case in selected.items():
            deltas = leak_deltas(
                lambda call=case.call: repeat(lambda: attempt(call), calls), warm_up, rounds
            )
            # References count exactly; blocks carry the interpreter's own
            # settling (a panic's printed traceback), so they must grow by a
            # block a call to count as a leak.
            leaking = all(d[0] >= 1 for d in deltas) or all(d[1] >= calls for d in deltas)
            shown = f"{deltas}"
            if leaking:
                # A leak grows with the calls. 3.15's own churn does not: a few
                # references a round, after 50 calls as after 5000. A hundred
                # times the calls must then cost one more a hundred calls.
                long = leak_deltas(
                    lambda call=case.call: repeat(lambda: attempt(call), 100 * calls), 1, rounds
                )
                leaking = any(all(d[i] >= calls for d in long) for i in (0, 1))
                shown += f", rounds of {100 * calls} calls: {long}"
            bad += leaking
            os.write(saved, f"{'LEAK' if leaking else 'ok  '} {name}: {shown}\n".encode())
    finally:
        os.dup2(saved, 2)
    print(
        f"refleaks: {len(selected)} cases, {warm_up} warm-up + {rounds} measured rounds"
        f" of {calls} calls,"
        f" {'references and ' if DEBUG else ''}blocks; leaking cases: {bad}"
    )
    return bad == 0


# ---- memory faults and recursion headroom -------------------------------------


def injected(call, start, stop):
    import _testcapi

    _testcapi.set_nomemory(start, stop)
    try:
        call()
    except BaseException as exc:  # noqa: BLE001
        return exc
    finally:
        _testcapi.remove_mem_hooks()
    return None


def depth():
    frame, count = sys._getframe(1), 0
    while frame:
        count, frame = count + 1, frame.f_back
    return count


def with_headroom(call, headroom):
    """Calls with `headroom` levels left below the recursion limit, counted as
    the interpreter counts them (C calls included), not by Python frames."""
    limit, lowest = sys.getrecursionlimit(), depth()
    while True:
        try:
            sys.setrecursionlimit(lowest)
            break
        except RecursionError:
            lowest += 1
    sys.setrecursionlimit(lowest + headroom - 1)
    try:
        call()
    except BaseException as exc:  # noqa: BLE001
        return exc
    finally:
        sys.setrecursionlimit(limit)
    return None


def in_child(job):
    """Runs `job` in a forked copy of this process, which keeps its state as it
    was; returns the job's report, or how the child died."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        status = 0
        try:
            report = job()
        except BaseException as exc:  # noqa: BLE001
            report, status = f"driver failed: {exc!r}", 3
        os.write(write, report.encode())
        os._exit(status)
    os.close(write)
    chunks = []
    while chunk := os.read(read, 65536):
        chunks.append(chunk)
    os.close(read)
    _, status = os.waitpid(pid, 0)
    if os.WIFSIGNALED(status):
        return f"CRASH signal {os.WTERMSIG(status)}"
    if os.WEXITSTATUS(status) != 0:
        return f"CRASH exit {os.WEXITSTATUS(status)}: " + b"".join(chunks).decode(errors="replace")
    return b"".join(chunks).decode()


# A single failed allocation while the interpreter unwinds can lose the error
# it was raising, in its own frames as in ours; len(object()) ends the same way.
LOST = ("error return without exception set", "returned NULL without setting an exception")


def classify(case, error, tolerated):
    if expected(case, error):
        return "value" if error is None else "specified"
    if isinstance(error, tolerated):
        return type(error).__name__
    if type(error) is SystemError and str(error).endswith(LOST):
        return "SystemError(lost)"
    if type(error).__name__ == "PanicException" and str(error).endswith(": MemoryError"):
        return "panic(MemoryError)"  # a factory that must not fail reports the failure so
    return f"WRONG {type(error).__name__}: {error}"


CALLS = 20
NEVER = 10**9  # an allocation index no call reaches: the hooks are in, nothing fails


def fault_job(case, start, stop, calls=CALLS):
    def job():
        outcome = classify(case, injected(case.call, start, stop), MemoryError)
        deltas = leak_deltas(lambda: repeat(lambda: injected(case.call, start, stop), calls), 1, 3)
        return f"{outcome} {deltas}"

    return job


def grown(outcome, baseline, calls=CALLS):
    """A leaking path loses at least one block or reference on every call,
    beyond what the same calls grow with the hooks in and nothing failing
    (the interpreter fills caches of its own there, a fresh process most)."""
    kind, deltas = outcome.split(" ", 1)
    if not deltas.startswith("["):
        return outcome
    deltas = eval(deltas)  # noqa: S307 - our own child's repr of a list of int pairs
    floor = [calls + max(d[i] for d in baseline) for i in (0, 1)]
    leaking = any(all(d[i] >= floor[i] for d in deltas) for i in (0, 1))
    return kind + (f" LEAK {deltas} over {baseline}" if leaking else "")


cleared = []  # per job measured again: whether the longer rounds cleared it


def faulted(case, start, stop, baseline):
    """The outcome of failing allocations start to stop, and whether the calls
    leak. After a fault the interpreter's own block counts wander by dozens a
    round with the process's layout (hash seeds, addresses), passing the floor
    in one run and not the next; a leak grows with the calls, so a flagged job
    is measured again at ten times the calls and must lose a block on each."""
    outcome = grown(in_child(fault_job(case, start, stop)), baseline)
    if "LEAK" not in outcome:
        return outcome
    again = grown(in_child(fault_job(case, start, stop, 10 * CALLS)), baseline, 10 * CALLS)
    cleared.append("LEAK" not in again)
    return again + (f", first at {CALLS} calls a round: {outcome}" if "LEAK" in again else "")


def headroom_job(case):
    def job():
        return "\n".join(
            classify(case, with_headroom(case.call, h), (RecursionError, MemoryError))
            for h in range(1, 21)
        )

    return job


# Block growth after a fault fails the run; KESTROVA_FAULT_GROWTH=report only
# shows it, for looking into the interpreter's own counts on a new version.
GROWTH_FAILS = os.environ.get("KESTROVA_FAULT_GROWTH", "fail") != "report"
reported = []  # shown after the sweep: nothing is printed while children fork


def sweep(name, case, tally, problems, mode):
    """Permanent failures from the first allocation on, until the call runs
    clean; single failures at each allocation it made; then the headroom."""
    runs = []
    baseline = eval(in_child(fault_job(case, NEVER, 0)).split(" ", 1)[1])  # noqa: S307
    start = 0
    while True:
        outcome = faulted(case, start, 0, baseline)
        runs.append((f"permanent from {start}", outcome))
        if outcome.split(" ")[0] in ("value", "specified", "CRASH") or start >= 10_000:
            break
        start += 1
    for single in range(start):
        runs.append((f"single at {single}", faulted(case, single, single + 1, baseline)))
    for headroom, outcome in enumerate(in_child(headroom_job(case)).split("\n"), 1):
        runs.append((f"headroom {headroom}", outcome))
    for what, outcome in runs:
        kind = ("headroom" if what.startswith("headroom") else "memory", outcome.split(" ")[0])
        tally[kind] = tally.get(kind, 0) + 1
        if kind[1] in ("CRASH", "WRONG", "driver") or ("LEAK" in outcome and GROWTH_FAILS):
            problems.append(f"{mode}: {name}: {what}: {outcome}")
        elif "LEAK" in outcome:
            reported.append(f"growth, reported only: {mode}: {name}: {what}: {outcome}")
    return start


def warm_interpreter():
    """From 3.13 the interpreter prints a traceback with Python code, whose modules
    it imports the first time: a failure injected there would be its import's."""
    saved = silence_stderr()
    try:
        error = attempt(lambda: 1 / 0)
        sys.__excepthook__(type(error), error, error.__traceback__)
    finally:
        os.dup2(saved, 2)
        os.close(saved)


def faults(selected):
    tally, problems, allocations = {}, [], {}
    warm_interpreter()
    if sys.version_info >= (3, 13):
        # There the traceback a resumed panic prints comes from Python code
        # with caches of its own (a thousand allocations a print); one failed
        # inside it leaves blocks that are the printer's, not the case's. The
        # module's own work still meets every fault, and 3.11 keeps the printer.
        sys.excepthook = lambda *exc: None
    gc.collect()
    gc.freeze()  # what exists now is no child's to collect: their collections stay cheap
    saved = silence_stderr()
    try:
        for mode in ("fresh", "after a panic"):
            if mode == "after a panic":
                attempt(lambda: core.py_get_constant(""))
            for name, case in selected.items():
                began = time.monotonic()
                allocations[name] = sweep(name, case, tally, problems, mode)
                os.write(
                    saved,
                    f"{mode}: {name}: {allocations[name]} allocations,"
                    f" {time.monotonic() - began:.1f}s\n".encode(),
                )
    finally:
        os.dup2(saved, 2)
    for problem in problems + reported:
        print(problem)
    for family in ("memory", "headroom"):
        runs = {k[1]: v for k, v in sorted(tally.items()) if k[0] == family}
        print(
            f"{family}: {sum(runs.values())} calls: "
            + ", ".join(f"{k} {v}" for k, v in runs.items())
        )
    print(
        f"faults: {len(selected)} cases x 2 process states (fresh, after a panic); allocations"
        f" per call up to {max(allocations.values())}; problems: {len(problems)};"
        f" growth past the floor measured again: {len(cleared)}, cleared {sum(cleared)}"
        + ("" if GROWTH_FAILS else f"; growth reported only: {len(reported)}")
    )
    return not problems


def main(argv):
    if len(argv) not in (2, 3) or argv[1] not in ("refleaks", "faults"):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    selected = {k: v for k, v in CASES.items() if len(argv) == 2 or argv[2] in k}
    return 0 if (refleaks if argv[1] == "refleaks" else faults)(selected) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
