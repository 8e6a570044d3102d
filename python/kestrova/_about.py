"""What each constant is, in words, and the search over names, units and words.

One line per constant and a few aliases: the command line, the API and the
user guide all read them here. Pure data, like ``kestrova._pure``: importing
it loads nothing native.
"""

from __future__ import annotations

from kestrova import _pure

__all__ = ["describe", "search"]

# What each constant is, in one line; for a pending constant, what its
# expression stands for.
_DESCRIPTIONS: dict[str, str] = {
    "b3": "A whole number of the model, 24; chi_eff / b3 is the number of generations.",
    "chi_eff": "A whole number of the model, 72; chi_eff / b3 = 3 is the number of generations.",
    "gamma_em": (
        "The Euler–Mascheroni constant γ, a mathematical constant: the limit of the harmonic "
        "sum 1 + 1/2 + … + 1/n less ln n. Despite the name, not an electromagnetic quantity."
    ),
    "h0_central": (
        "The Hubble constant H₀, the present expansion rate of the universe: 70 km/s/Mpc, a "
        "round figure between the measurements from the cosmic microwave background and from "
        "the distance ladder, which disagree."
    ),
    "jc_constant": "A count of the model, 153.",
    "logic_closure": "A count of the model, 288, equal to roots_total.",
    "m_tau_mev": "The mass of the tau lepton, 1776.86 MeV.",
    "n_gen": "The number of fermion generations; three are observed.",
    "n_gen_sq": "n_gen squared: 3 × 3 = 9.",
    "phi": (
        "The golden ratio φ = (1 + √5) / 2, the step between neighbouring rungs of the quark "
        "mass ladder."
    ),
    "roots_total": (
        "A count of the model, 288, split into visible_sector (125) and sterile_sector (163)."
    ),
    "sterile_check": (
        "roots_total − visible_sector = 288 − 125 = 163: a consistency check against "
        "sterile_sector."
    ),
    "sterile_sector": "The model's sterile part of roots_total: 288 − 125 = 163.",
    "topo_gen_check": "chi_eff / b3 = 72 / 24 = 3: a consistency check against n_gen.",
    "v_higgs_mev": (
        "The Higgs vacuum expectation value v, 246220 MeV (246.22 GeV), set by the Fermi "
        "constant: v = (√2 G_F)^-1/2. It is the top of the model's quark mass ladder."
    ),
    "visible_sector": "The model's visible part of roots_total, 125.",
    "w0_central": (
        "The dark-energy equation-of-state parameter w₀ (pressure over energy density), -1: "
        "the value of a cosmological constant."
    ),
}
# Words a reader may type instead of the name.
_ALIASES: dict[str, tuple[str, ...]] = {
    "gamma_em": ("euler", "mascheroni", "euler-mascheroni", "gamma"),
    "h0_central": ("hubble", "h0", "expansion rate", "cosmology"),
    "m_tau_mev": ("tau", "lepton", "tau mass"),
    "n_gen": ("generations", "families"),
    "n_gen_sq": ("generations squared",),
    "phi": ("golden", "golden ratio"),
    "sterile_check": ("sterile",),
    "sterile_sector": ("sterile",),
    "topo_gen_check": ("generations",),
    "v_higgs_mev": ("higgs", "vev", "vacuum expectation value", "fermi", "electroweak scale"),
    "visible_sector": ("visible",),
    "w0_central": ("dark energy", "equation of state", "w0", "cosmological constant"),
}


def describe(name: str) -> str:
    """Return one plain line saying what the constant ``name`` is.

    For a pending constant the line says what its expression stands for.
    Raises ``KeyError`` with the registry's not-found text for an unknown
    name, like ``kestrova.Get``, and ``TypeError`` for a name that is not a
    ``str``.
    """
    if not isinstance(name, str):
        raise TypeError(f"describe: name must be a str, not {type(name).__qualname__}")
    _pure.expression(name)  # the registry's KeyError for an unknown name
    return _DESCRIPTIONS[name]


def search(text: str) -> list[str]:
    """Return the names of the constants that match ``text``, best first.

    Case is ignored. Every word of ``text`` must occur in the constant's
    name, units, description or aliases. An exact name comes first, then
    names that start with ``text``, then names with ``text`` as an alias,
    then the rest; names in byte order within each rank. Raises
    ``ValueError`` when ``text`` holds nothing but white space, and
    ``TypeError`` when it is not a ``str``.
    """
    if not isinstance(text, str):
        raise TypeError(f"search: text must be a str, not {type(text).__qualname__}")
    query = " ".join(text.split()).casefold()
    if not query:
        raise ValueError("search: text must not be empty")
    ranked = []
    for name in _pure.list_constants():
        description, aliases = _DESCRIPTIONS[name], _ALIASES.get(name, ())
        units = _pure.Get(name)["units"]
        words = "\n".join([name, units, description, *aliases]).casefold()
        if not all(word in words for word in query.split()):
            continue
        folded = name.casefold()
        if folded == query:
            rank = 0
        elif folded.startswith(query):
            rank = 1
        elif query in (a.casefold() for a in aliases):
            rank = 2
        else:
            rank = 3
        ranked.append((rank, name))
    return [name for _, name in sorted(ranked)]
