"""Coverage-guided fuzzing of every entry point: the property tests of the
hostile-argument suite and the twin suite, fed by the fuzzer's bytes instead of
their own random source, so the module's branches steer the search and each
oracle (the reference model, the pure twin) judges every outcome. Run by
`nox -s memory` with the module built for fuzzing; pytest does not
collect it.

Usage: python tests/drivers/fuzz_entry_points.py [libFuzzer options] [corpus dir...]
"""

import os
import sys

import atheris

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

with atheris.instrument_imports(include=["kestrova"]):
    import kestrova  # noqa: F401 - the pure twin, instrumented alongside the module

import test_hostile
import test_twins
from hypothesis import given
from outcomes import panic_class
from strategies import calls, names


def targets():
    """Each property test as a function of the fuzzer's bytes."""
    found = []
    for module in (test_hostile, test_twins):
        for name in sorted(dir(module)):
            test = getattr(module, name)
            hypothesis = getattr(test, "hypothesis", None)
            if name.startswith("test_") and hypothesis is not None:
                found.append(hypothesis.fuzz_one_input)
    return found


def main():
    # The one fixture the property tests take, bound here as pytest would.
    inner, panic = test_hostile.test_get_constant.hypothesis.inner_test, panic_class()

    @given(calls(names, "name"))
    def test_get_constant(call):
        inner(panic, call)

    test_hostile.test_get_constant = test_get_constant
    runs = targets()

    def one_input(data):
        if len(data) < 2:
            return
        runs[data[0] % len(runs)](data[1:])

    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
