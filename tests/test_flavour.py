"""py_list_quarks, PyQuarkRegistry and PyCKMMatrix."""

import math

import pytest

import kestrova._norvel_core as core

QUARKS = ["bottom", "charm", "down", "strange", "top", "up"]


def test_list_quarks_is_sorted_and_fresh():
    first, second = core.py_list_quarks(), core.py_list_quarks()
    assert first == QUARKS and second == QUARKS
    assert first is not second
    assert all(name.isascii() for name in first)
    first.clear()
    assert core.py_list_quarks() == QUARKS


def test_quark_registry_from_python_starts_empty():
    registry = core.PyQuarkRegistry()
    assert len(registry) == 0
    assert not registry
    assert core.PyQuarkRegistry() is not registry


class TestCKMMatrix:
    def test_from_topology_through_class_and_instance(self):
        matrix = core.PyCKMMatrix.from_topology()
        again = matrix.from_topology()
        assert type(matrix) is core.PyCKMMatrix and type(again) is core.PyCKMMatrix
        assert again is not matrix

    def test_jarlskog_of_the_identity_is_zero(self):
        value = core.PyCKMMatrix.from_topology().jarlskog()
        assert type(value) is float and value == 0.0 and math.copysign(1, value) == 1

    @pytest.mark.parametrize(
        "tol, expected",
        [
            (0.0, True),
            (-0.0, True),
            (1e-9, True),
            (-1e-12, False),
            (float("inf"), True),
            (float("-inf"), False),
            (float("nan"), False),
            (0, True),
            (True, True),
            (-1, False),
            (5e-324, True),
        ],
    )
    def test_is_unitary(self, tol, expected):
        result = core.PyCKMMatrix.from_topology().is_unitary(tol)
        assert result is expected

    def test_is_unitary_by_keyword_and_float_protocol(self):
        import decimal
        import fractions

        matrix = core.PyCKMMatrix.from_topology()
        assert matrix.is_unitary(tol=1e-9) is True
        assert matrix.is_unitary(fractions.Fraction(1, 3)) is True
        assert matrix.is_unitary(decimal.Decimal("-0.5")) is False

        class Indexed:
            def __index__(self):
                return 2

        assert matrix.is_unitary(Indexed()) is True
