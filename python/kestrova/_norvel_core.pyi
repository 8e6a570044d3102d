"""The native core of kestrova: accelerated twins of the package's operations."""

# The documentation tools execute this file; names are used before they are defined.
from __future__ import annotations

from typing import Final, Never, Self, SupportsFloat, SupportsIndex, final

__all__ = [
    "PyCKMMatrix",
    "PyFormulasRegistry",
    "PyQuarkRegistry",
    "__version__",
    "py_get_constant",
    "py_list_constants",
    "py_list_quarks",
]

__version__: Final[str]

# One definition for both twins: the package's runtime TypedDict.
from kestrova._pure import Datasheet as _Datasheet

@final
class PyFormulasRegistry:
    """Python wrapper for [`FormulasRegistry`]."""

    def __new__(cls) -> Self: ...
    def get(self, name: str) -> float:
        """Retrieve the numeric value for `name`.

        A pending constant gives 0.0. Raises `KeyError` for an unknown name
        and `TypeError` for a name that is not a `str`.
        """
    @staticmethod
    def version() -> str:
        """Library-version round-trip helper."""
    def __len__(self, /) -> int: ...

@final
class PyQuarkRegistry:
    """Python wrapper for [`QuarkRegistry`]."""

    def __new__(cls) -> Self: ...
    def __len__(self, /) -> int: ...

@final
class PyCKMMatrix:
    """Python wrapper for [`CKMMatrix`]."""

    # There is no constructor: calling the class raises TypeError whatever the
    # arguments, and instances come only from from_topology(). A parameter no
    # value can fill makes every such call a type error; a NoReturn __new__
    # would instead hide the class's static methods from type checkers.
    def __new__(cls, use_from_topology: Never, /) -> Self:
        """There is no constructor: raises `TypeError`; use `from_topology`."""
    @staticmethod
    def from_topology() -> PyCKMMatrix:
        """Build the CKM matrix from the underlying topology."""
    def is_unitary(self, tol: SupportsFloat | SupportsIndex) -> bool:
        """`True` when the matrix is unitary within `tol`.

        Only the normalisation of each row is tested; a NaN `tol` gives
        `False`. Raises `TypeError` when `tol` is not a number.
        """
    def jarlskog(self) -> float:
        """CP-violation Jarlskog invariant J."""

def py_list_constants() -> list[str]:
    """Natively accelerated twin of `kestrova.list_constants`."""

def py_list_quarks() -> list[str]:
    """Natively accelerated twin of `kestrova.list_quarks`."""

def py_get_constant(name: str) -> _Datasheet:
    """Natively accelerated twin of `kestrova.Get` for the constants branch.

    Raises `KeyError` for an unknown name, `TypeError` for a name that is not
    a `str`, `UnicodeEncodeError` for one that is not valid UTF-8, and
    `PanicException` (a `BaseException`) for the empty name.
    """
