"""Memory faults and recursion headroom under every case of the call table, each
fault in a forked copy of the process. Run through boundary.py."""

import gc
import os
import sys
import time

from measure import attempt, expected, leak_deltas, repeat, silence_stderr

import kestrova._norvel_core as core


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
