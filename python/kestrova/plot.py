"""The quark mass ladder as a figure.

``kestrova plot`` writes it to a file and the documentation draws it at build
time, both through ``draw_ladder``. Matplotlib is an optional dependency
(``pip install 'kestrova[plot]'``): this module imports it only when drawing.
"""

from __future__ import annotations

import math
from collections.abc import Iterable
from typing import Any, NamedTuple

from kestrova import _compare, _pure

__all__ = [
    "FORMATS",
    "PHI",
    "VEV_MEV",
    "MissingMatplotlib",
    "Rung",
    "draw_ladder",
    "ladder",
    "save_ladder",
]

#: The top of the ladder: the Higgs vacuum expectation value, in MeV.
VEV_MEV = 246220.0
#: The golden ratio, the ratio of two neighbouring rungs.
PHI = (1 + math.sqrt(5)) / 2
#: The file types ``save_ladder`` writes, by suffix.
FORMATS = ("svg", "png", "pdf")
_GENERATION_COLOURS = {1: "#1f77b4", 2: "#2ca02c", 3: "#d62728"}


class Rung(NamedTuple):
    """One quark on the ladder."""

    #: the quark's name
    name: str
    #: 1, 2 or 3
    generation: int
    #: n, the golden-ratio steps below the top of the ladder
    phi_exponent: int
    #: 246220.0 / phi**n, in MeV
    mass_mev: float


def ladder(names: Iterable[str] | None = None) -> list[Rung]:
    """Return the quarks ``names`` (default: all six) from the top of the ladder down.

    The figures are the package's own: ``mass_mev`` is 246220 MeV / φⁿ with
    n the quark's ``phi_exponent``. Raises ``KeyError`` for a name that is no
    quark.
    """
    chosen = _pure.list_quarks() if names is None else names
    rungs = [Rung(name, *_pure.QUARKS[name][:3]) for name in chosen]
    return sorted(rungs, key=lambda r: (r.phi_exponent, r.name))


class MissingMatplotlib(ImportError):
    """Drawing needs matplotlib, which is an optional extra of the package."""


def _matplotlib() -> Any:
    # matplotlib is an optional extra: the package type-checks without it too.
    try:
        import matplotlib  # type: ignore[import-not-found,unused-ignore]
    except ImportError:
        raise MissingMatplotlib(
            "drawing the ladder needs matplotlib: pip install 'kestrova[plot]'"
        ) from None
    return matplotlib


def draw_ladder(
    ax: Any, names: Iterable[str] | None = None, *, measured: bool = False
) -> list[Rung]:
    """Draw the mass ladder on ``ax``, a ``matplotlib.axes.Axes``; return the rungs drawn.

    Each quark is a point at its golden-ratio exponent n and its mass on a
    logarithmic axis, labelled with its name and coloured by generation; the
    dashed line is 246220 MeV / φⁿ, on which every point lies.

    With ``measured``, each quark's measured mass from ``kestrova.compare``
    is drawn beside its rung as a black square with its error bars, the
    Particle Data Group's edition in the legend; that raises
    ``kestrova.MissingMeasurements`` when the packages it needs are missing.
    """
    _matplotlib()
    rungs = ladder(names)
    records = _measured(rungs) if measured else []
    top = max([12, *(r.phi_exponent for r in rungs)])
    xs = [top * i / 200 for i in range(201)]
    ax.plot(
        xs, [VEV_MEV / PHI**x for x in xs], "--", color="0.6", linewidth=1, label="246220 MeV / φⁿ"
    )
    for generation, colour in _GENERATION_COLOURS.items():
        chosen = [r for r in rungs if r.generation == generation]
        if chosen:
            ax.plot(
                [r.phi_exponent for r in chosen],
                [r.mass_mev for r in chosen],
                "o",
                color=colour,
                markersize=7,
                label=f"generation {generation}",
            )
    for r in rungs:
        ax.annotate(r.name, (r.phi_exponent, r.mass_mev), xytext=(7, 4), textcoords="offset points")
    bottom = VEV_MEV / PHI ** (top + 1)
    if records:
        # Beside the rung, not on it: the error bars must not hide the model's point.
        xs = [r.phi_exponent + 0.3 for r in rungs]
        ys = [m["measured"] for m in records]
        errors = [
            [m["uncertainty_lower"] or 0.0 for m in records],
            [m["uncertainty_upper"] or 0.0 for m in records],
        ]
        edition = ", ".join(dict.fromkeys(f"{m['source']} {m['edition']}" for m in records))
        ax.errorbar(
            xs,
            ys,
            yerr=errors,
            fmt="s",
            color="black",
            markersize=5,
            capsize=3,
            label=f"measured ({edition})",
        )
        bottom = min(bottom, min(ys) / 3)
    ax.set_yscale("log")
    ax.set_xlim(-0.7, top + 1.8)
    ax.set_ylim(bottom, VEV_MEV * 3)
    ax.set_xticks(range(0, top + 1))
    ax.set_xlabel("golden-ratio exponent n (steps below the top of the ladder)")
    ax.set_ylabel("mass (MeV, log scale)")
    title = "The model's quark masses: mass = 246220 MeV / φⁿ"
    ax.set_title(title + (", and the measured ones" if records else ""))
    ax.grid(True, which="major", alpha=0.3)
    ax.legend(loc="upper right")
    return rungs


def _measured(rungs: list[Rung]) -> list[_compare.Comparison]:
    records = {r["name"]: r for r in _compare.compare()}
    return [records[r.name] for r in rungs]


def save_ladder(
    path: str, names: Iterable[str] | None = None, *, measured: bool = False
) -> list[Rung]:
    """Write the ladder figure to ``path``; its suffix picks the format (svg, png, pdf).

    Returns the rungs drawn; ``measured`` is as for ``draw_ladder``. Raises
    ``ValueError`` for another suffix, ``MissingMatplotlib`` (an
    ``ImportError``) when matplotlib is missing and
    ``kestrova.MissingMeasurements`` (an ``ImportError`` too) when
    ``measured`` asks for packages that are missing.
    """
    suffix = path.rpartition(".")[2].lower() if "." in path else ""
    if suffix not in FORMATS:
        raise ValueError(f"cannot write {path!r}: the name must end in .svg, .png or .pdf")
    matplotlib = _matplotlib()
    # A bare Figure needs no GUI backend and leaves pyplot's state alone.
    from matplotlib.figure import Figure  # type: ignore[import-not-found,unused-ignore]

    figure = Figure(figsize=(8, 5), layout="constrained")
    rungs = draw_ladder(figure.add_subplot(), names, measured=measured)
    # The same data gives the same file: no date in it, and the SVG's ids drawn
    # from a fixed salt rather than a random one.
    with matplotlib.rc_context({"svg.hashsalt": "kestrova"}):
        figure.savefig(path, format=suffix, dpi=150, metadata=_UNDATED.get(suffix, {}))
    return rungs


# Each format's own key for the date it would otherwise write.
_UNDATED: dict[str, dict[str, Any]] = {"svg": {"Date": None}, "pdf": {"CreationDate": None}}
