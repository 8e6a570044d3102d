"""The model's figures beside the measured ones, read at run time from the field's data packages.

The quark and tau masses come from the Particle Data Group's tables as the
``particle`` package ships them, the Higgs vacuum expectation value from the
CODATA Fermi coupling constant in ``scipy.constants``. Both are an optional
extra (``pip install 'kestrova[compare]'``) and are imported only here, only
when asked for. No installed package carries the measured CKM figures: they
are typed below, once, with their source.
"""

from __future__ import annotations

import math
import os
import re
from typing import Any, NamedTuple, TypedDict

from kestrova import _display, _pure, _records
from kestrova._display import Figure, Table
from kestrova._version import __version__

__all__ = [
    "CKM_MEASURED",
    "Comparison",
    "ComparisonTable",
    "Measured",
    "MissingMeasurements",
    "compare",
]


class Comparison(TypedDict):
    """One of the model's figures beside its measured counterpart.

    Every value is a ``str``, a finite ``float`` or ``None``, so the record
    is JSON as it stands.
    """

    #: a quark's name ("top") or a constant's ("m_tau_mev")
    name: str
    #: the model's figure
    model: float
    #: the measured central value
    measured: float
    #: the measured figure's upper uncertainty, or None where the data gives none
    uncertainty_upper: float | None
    #: the measured figure's lower uncertainty (a positive number), or None
    uncertainty_lower: float | None
    #: the units of all three figures: "MeV", or "dimensionless" for the CKM matrix
    units: str
    #: model / measured
    ratio: float
    #: the mass scheme, where the data names one, else None
    scheme: str | None
    #: the scale the mass is defined at, where the data names one, else None
    scale: str | None
    #: where the measured figure comes from: "PDG" or "CODATA"
    source: str
    #: the edition of that source, as the package states it ("2026"), or
    #: "unknown" where it states none
    edition: str
    #: the package that carries the figure, with its version ("particle 1.1.0")
    package: str


class Measured(NamedTuple):
    """A measured figure that no installed package carries, as its source states it."""

    #: as in ``Comparison``: "|V_us|", "|V_cb|", "|V_ub|" or "J"
    name: str
    value: float
    upper: float
    #: a positive number
    lower: float
    source: str
    edition: str
    #: which of the source's figures this is
    what: str


_CKM_FIT = ("PDG", "2024", "CKM review, global fit")
#: The measured CKM magnitudes and J, beside the model's matrix in ``compare()``.
CKM_MEASURED = (
    Measured("|V_us|", 0.22501, 0.00068, 0.00068, *_CKM_FIT),
    Measured("|V_cb|", 0.04183, 0.00079, 0.00069, *_CKM_FIT),
    Measured("|V_ub|", 0.003732, 0.000090, 0.000085, *_CKM_FIT),
    Measured("J", 3.12e-5, 0.13e-5, 0.12e-5, *_CKM_FIT),
)
# The model's element for each measured magnitude: (row, column).
_CKM_ELEMENTS = {"|V_us|": ("u", "s"), "|V_cb|": ("c", "b"), "|V_ub|": ("u", "b")}


class ComparisonTable(list[Comparison], _display.Shown):
    """The records of ``compare()``, a plain list of them that shows itself as a table."""

    __slots__ = ()

    def to_dataframe(self) -> Any:
        """The records as a pandas DataFrame indexed by name; needs ``kestrova[dataframe]``."""
        return _display.dataframe(self)

    def _table(self) -> Table:
        header = ("name", "model", "measured", "uncertainty", "ratio", "source")
        rows = [
            (
                r["name"],
                Figure(r["model"], r["units"], shown=f"{r['model']:.8g}"),
                Figure(r["measured"], r["units"], shown=f"{r['measured']:.8g}"),
                uncertainty(r),
                f"{r['ratio']:#.4g}",
                f"{r['source']} {r['edition']}",
            )
            for r in self
        ]
        return Table(
            "The model's figures beside the measured ones (ratio: model / measured)", header, rows
        )


def uncertainty(r: Comparison) -> str:
    """A record's measured uncertainty as text: "± 0.5", "+0.8 -0.7" or "-" for none."""
    up, down = r["uncertainty_upper"], r["uncertainty_lower"]
    if up is None or down is None:
        return "-"
    return f"± {up:.3g}" if up == down else f"+{up:.3g} -{down:.3g}"


class MissingMeasurements(ImportError):
    """The measured figures need the packages of the optional ``compare`` extra."""


#: Monte Carlo particle numbers of the measured particles, from the top of the ladder down.
_PDG_IDS = {"top": 6, "bottom": 5, "charm": 4, "strange": 3, "down": 1, "up": 2, "m_tau_mev": 15}


def _packages() -> tuple[Any, Any]:
    # Optional extras: the package type-checks and imports without them.
    try:
        import particle  # type: ignore[import-not-found,import-untyped,unused-ignore]
        import scipy.constants  # type: ignore[import-not-found,import-untyped,unused-ignore]
    except ImportError:
        raise MissingMeasurements(
            "comparing with measurement needs particle and scipy: pip install 'kestrova[compare]'"
        ) from None
    return particle, scipy


def _year(text: str) -> str:
    found = re.search(r"(?<!\d)(19|20)\d\d(?!\d)", text)
    return found.group() if found else "unknown"


def _pdg_edition(particle: Any) -> str:
    # The package names each table after the edition of the Review it was
    # built from ("particle2026.csv"), and lists the tables loaded by file
    # name, or by full path for one the user loaded: the only place it says
    # so. A table read from a stream, or named otherwise, has no edition.
    names = [os.path.basename(n) for n in particle.Particle.table_names()]
    tables = [n for n in names if n.startswith("particle")]
    return _year(tables[0]) if tables else "unknown"


def _codata_edition(scipy: Any) -> str:
    # The module's documentation is scipy's one public statement of its
    # current set ("CODATA recommended values [CODATA2022]"); where the
    # docstrings are stripped (python -OO), the private attribute its own
    # code reads.
    found = re.search(r"CODATA recommended values \[CODATA(\d{4})\]", scipy.constants.__doc__ or "")
    if found:
        return found.group(1)
    codata = getattr(scipy.constants, "_codata", None)
    return _year(str(getattr(codata, "_current_codata", "")))


def _positive(x: object) -> float | None:
    # particle gives no uncertainty as None or as a negative placeholder.
    return float(x) if isinstance(x, (int, float)) and math.isfinite(x) and x >= 0 else None


def _record(
    name: str,
    model: float,
    measured: float | None,
    up: float | None,
    down: float | None,
    source: tuple[str, str, str],
    units: str = "MeV",
) -> Comparison:
    if not measured:  # a ratio needs a measured figure above zero
        raise ValueError(f"the data gives no measured figure for {name}")
    return {
        "name": name,
        "model": model,
        "measured": measured,
        "uncertainty_upper": up,
        "uncertainty_lower": down,
        "units": units,
        "ratio": model / measured,
        # Neither package names the scheme or scale of a quark mass.
        "scheme": None,
        "scale": None,
        "source": source[0],
        "edition": source[1],
        "package": source[2],
    }


def compare() -> ComparisonTable:
    """Return the model's figures beside the measured ones, one record each.

    The six quarks from the top of the ladder down, then the tau mass
    (``m_tau_mev``) and the Higgs vacuum expectation value
    (``v_higgs_mev``), all in MeV; then the CKM magnitudes ``|V_us|``,
    ``|V_cb|`` and ``|V_ub|`` and the Jarlskog invariant J, dimensionless.
    The quark and
    tau masses are the Particle Data Group's, from the table the ``particle``
    package has loaded; v is (√2 G_F)^-1/2 from the CODATA Fermi coupling
    constant in ``scipy.constants``, its uncertainty propagated from that of
    G_F; the CKM figures are the PDG's global fit (``CKM_MEASURED``). The
    model's figures are the ladder's masses, the pending constants' values
    and the model's CKM matrix (``kestrova.ckm()``).

    Each record names its source's edition, read from the data: the year in
    the file name of the PDG table loaded, and the CODATA set scipy names.
    A table the user loaded under another name, or from a stream, names no
    year; its records say "unknown".

    The result is a list of ``Comparison`` records that shows itself as a
    table in a notebook and has ``to_dataframe()``. Raises
    ``MissingMeasurements`` (an ``ImportError``) when either package is
    missing, and ``ValueError`` when its data has no figure above zero for
    one of them.
    """
    particle, scipy = _packages()
    pdg = ("PDG", _pdg_edition(particle), f"particle {particle.__version__}")
    records = ComparisonTable()
    for name, pdgid in _PDG_IDS.items():
        p = particle.Particle.from_pdgid(pdgid)
        model = _pure.QUARKS[name].mass_mev if name in _pure.QUARKS else _model(name)
        up, down = _positive(p.mass_upper), _positive(p.mass_lower)
        records.append(_record(name, model, _positive(p.mass), up, down, pdg))
    g_f, _, sigma = scipy.constants.physical_constants["Fermi coupling constant"]
    # G_F is in GeV^-2; v = (√2 G_F)^-1/2 in GeV, and dv/v = -dG_F / (2 G_F).
    v = 1e3 / math.sqrt(math.sqrt(2.0) * g_f)
    dv = v * sigma / (2 * g_f)
    codata = ("CODATA", _codata_edition(scipy), f"scipy {scipy.__version__}")
    records.append(_record("v_higgs_mev", _model("v_higgs_mev"), v, dv, dv, codata))
    matrix = _records.ckm()
    for m in CKM_MEASURED:
        element = _CKM_ELEMENTS.get(m.name)
        model = matrix.magnitude(*element) if element else matrix.jarlskog
        typed = (m.source, m.edition, f"kestrova {__version__}")
        records.append(_record(m.name, model, m.value, m.upper, m.lower, typed, "dimensionless"))
    return records


def _model(name: str) -> float:
    # The figure a pending constant holds in its expression.
    return _records.constant(name).value
