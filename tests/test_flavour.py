"""py_list_quarks, PyQuarkRegistry and PyCKMMatrix."""

import math

from data import QUARK_NAMES

import kestrova._norvel_core as core


def test_list_quarks_is_sorted_and_fresh():
    first, second = core.py_list_quarks(), core.py_list_quarks()
    assert first == QUARK_NAMES and second == QUARK_NAMES
    assert first is not second
    assert all(name.isascii() for name in first)
    first.clear()
    assert core.py_list_quarks() == QUARK_NAMES


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
