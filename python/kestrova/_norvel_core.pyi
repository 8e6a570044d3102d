"""The native core of kestrova: accelerated twins of the package's operations."""

from typing import Final, Literal, Never, Self, SupportsFloat, SupportsIndex, TypedDict, final


__all__ = [
    "PyFormulasRegistry",
    "PyQuarkRegistry",
    "PyCKMMatrix",
    "py_list_constants",
    "py_list_quarks",
    "py_get_constant",
    "__version__",
]

__version__: Final[str]

# Exists only for type checkers: at run time the datasheet is a plain dict.
class _Datasheet(TypedDict):
    name: str
    status: Literal["Seed", "Cached", "Pending", "External"]
    uncertainty: float | None
    units: str
    value: float | None

@final
class PyFormulasRegistry:
    """Python wrapper for [`FormulasRegistry`]."""

    def __new__(cls) -> Self: ...
    def get(self, name: str) -> float:
        """Retrieve the numeric value for `name`."""
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
    def __new__(cls, use_from_topology: Never, /) -> Self: ...
    @staticmethod
    def from_topology() -> PyCKMMatrix:
        """Build the CKM matrix from the underlying topology."""
    def is_unitary(self, tol: SupportsFloat | SupportsIndex) -> bool:
        """`True` when the matrix is unitary within `tol`."""
    def jarlskog(self) -> float:
        """CP-violation Jarlskog invariant J."""

def py_list_constants() -> list[str]:
    """Natively accelerated twin of `kestrova.list_constants`."""

def py_list_quarks() -> list[str]:
    """Natively accelerated twin of `kestrova.list_quarks`."""

def py_get_constant(name: str) -> _Datasheet:
    """Natively accelerated twin of `kestrova.Get` for the constants branch.

    Raises `KeyError` for an unknown name, and `PanicException` (a
    `BaseException`) for the empty name.
    """
