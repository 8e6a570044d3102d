"""A figure as a quantity with units: astropy's by default, or pint's given its registry.

Both are optional (``pip install 'kestrova[units]'``) and imported only here,
only when asked for.
"""

from __future__ import annotations

from typing import Any

__all__ = ["MissingUnits", "quantity"]

# Units the model names that no unit library parses as meant: a count of
# the model is a pure number, not astropy's photon-counting unit.
_DIMENSIONLESS = frozenset({"dimensionless", "count"})


class MissingUnits(ImportError):
    """A quantity needs astropy (or pint), the optional ``units`` extra."""


def quantity(value: float, units: str, ureg: Any = None) -> Any:
    """``value`` in ``units`` as an astropy ``Quantity``, or a pint one from ``ureg``."""
    dimensionless = units in _DIMENSIONLESS
    if ureg is not None:
        return ureg.Quantity(value, "" if dimensionless else units)
    try:
        from astropy import units as u  # type: ignore[import-not-found,import-untyped,unused-ignore]
    except ImportError:
        raise MissingUnits(
            "a quantity needs astropy or pint: pip install 'kestrova[units]'"
        ) from None
    return u.Quantity(value, u.dimensionless_unscaled if dimensionless else u.Unit(_astropy(units)))


def _astropy(units: str) -> str:
    # astropy reads "km/s/Mpc" as meant but warns of the second slash, which
    # a notebook shows as noise: every divisor goes under one slash.
    numerator, *divisors = units.split("/")
    return f"{numerator} / ({' '.join(divisors)})" if len(divisors) > 1 else units
