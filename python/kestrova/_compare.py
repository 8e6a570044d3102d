"""The model's masses beside the measured ones, read at run time from the field's data packages.

The quark and tau masses come from the Particle Data Group's tables as the
``particle`` package ships them, the Higgs vacuum expectation value from the
CODATA Fermi coupling constant in ``scipy.constants``. Both are an optional
extra (``pip install 'kestrova[compare]'``) and are imported only here, only
when asked for.
"""

from __future__ import annotations

import math
import re
from typing import Any, TypedDict

from kestrova import _pure

__all__ = ["Comparison", "MissingMeasurements", "compare"]


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
    #: the units of all three figures
    units: str
    #: model / measured
    ratio: float
    #: the mass scheme, where the data names one, else None
    scheme: str | None
    #: the scale the mass is defined at, where the data names one, else None
    scale: str | None
    #: where the measured figure comes from: "PDG" or "CODATA"
    source: str
    #: the edition of that source, as the package states it ("2026")
    edition: str
    #: the package that carries the figure, with its version ("particle 1.1.0")
    package: str


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
    return found.group() if found else text


def _pdg_edition(particle: Any) -> str:
    # The package names its table after the edition of the Review it was
    # built from ("particle2026.csv"); that is the only place it says so.
    names = [n for n in particle.Particle.table_names() if n.startswith("particle")]
    return _year(names[0]) if names else "unknown"


def _codata_edition(scipy: Any) -> str:
    # scipy states the edition of its current set only in this attribute
    # ("CODATA 2022").
    codata = getattr(scipy.constants, "_codata", None)
    return _year(str(getattr(codata, "_current_codata", "unknown")))


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
) -> Comparison:
    if not measured:  # a ratio needs a measured figure above zero
        raise ValueError(f"the data gives no measured figure for {name}")
    return {
        "name": name,
        "model": model,
        "measured": measured,
        "uncertainty_upper": up,
        "uncertainty_lower": down,
        "units": "MeV",
        "ratio": model / measured,
        # Neither package names the scheme or scale of a quark mass.
        "scheme": None,
        "scale": None,
        "source": source[0],
        "edition": source[1],
        "package": source[2],
    }


def compare() -> list[Comparison]:
    """Return the model's masses beside the measured ones, one record each.

    The six quarks from the top of the ladder down, then the tau mass
    (``m_tau_mev``) and the Higgs vacuum expectation value
    (``v_higgs_mev``), all in MeV. The quark and tau masses are the
    Particle Data Group's, in the edition the installed ``particle`` package
    ships; v is (√2 G_F)^-1/2 from the CODATA Fermi coupling constant in
    ``scipy.constants``, its uncertainty propagated from that of G_F. The
    model's figures are the ladder's masses and the pending constants'
    expressions. Raises ``MissingMeasurements`` (an ``ImportError``) when
    either package is missing, and ``ValueError`` when its data has no
    figure above zero for one of them.
    """
    particle, scipy = _packages()
    pdg = ("PDG", _pdg_edition(particle), f"particle {particle.__version__}")
    records = []
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
    return records


def _model(name: str) -> float:
    # The figure a pending constant holds as the decimal text of its expression.
    text = _pure.expression(name)
    assert text is not None, name
    return float(text)
