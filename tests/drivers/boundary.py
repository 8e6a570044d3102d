"""Drives the call table's cases through the checks that need a process of
their own: reference-leak rounds, memory-fault injection and recursion
headroom. Run by `nox -s memory`; pytest does not collect it.

Usage: python tests/drivers/boundary.py refleaks|faults [case-substring]
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from cases import CASES
from faults import faults
from measure import DEBUG, attempt, leak_deltas, repeat, silence_stderr


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


def main(argv):
    if len(argv) not in (2, 3) or argv[1] not in ("refleaks", "faults"):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    selected = {k: v for k, v in CASES.items() if len(argv) == 2 or argv[2] in k}
    return 0 if (refleaks if argv[1] == "refleaks" else faults)(selected) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
