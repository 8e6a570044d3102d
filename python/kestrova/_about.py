"""What each constant, quark and the CKM matrix is, in words, and the search over them.

One line per entry and a few aliases: the command line, the API and the
user guide all read them here. Pure data, like ``kestrova._pure``: importing
it loads nothing native.
"""

from __future__ import annotations

import difflib
import re

from kestrova import _pure

__all__ = ["CKM", "describe", "search"]

#: The name under which search and describe know the CKM matrix.
CKM = "ckm"

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
    CKM: ("ckm matrix", "mixing matrix", "cabibbo", "kobayashi", "maskawa", "cp violation"),
}
_CKM_LINE = (
    "The model's quark-mixing (CKM) matrix, |V_ij| for u, c, t against d, s, b: the identity, "
    "so no quark mixes with another, and its Jarlskog invariant J = 0, so no CP violation."
)
_SUPERSCRIPTS = str.maketrans("0123456789", "⁰¹²³⁴⁵⁶⁷⁸⁹")


def _quark_line(name: str) -> str:
    q = _pure.QUARKS[name]
    return (
        f"The {name} quark, of generation {q.generation}: its mass is 246220 MeV / "
        f"φ{str(q.phi_exponent).translate(_SUPERSCRIPTS)} = {q.mass_mev:.6g} MeV on the model's "
        "quark mass ladder."
    )


def _entry(name: str) -> tuple[str, str, tuple[str, ...]]:
    # units, description and aliases; the registry's KeyError for an unknown name
    if name in _pure.QUARKS:
        return "MeV", _quark_line(name), ("quark", "quark mass", f"{name} quark")
    if name == CKM:
        return "dimensionless", _CKM_LINE, _ALIASES[CKM]
    return _pure.Get(name)["units"], _DESCRIPTIONS[name], _ALIASES.get(name, ())


def describe(name: str) -> str:
    """Return one plain line saying what the constant, quark or matrix ``name`` is.

    ``name`` is a constant's name, a quark's ("bottom") or "ckm". For a
    pending constant the line says what its expression stands for. Raises
    ``KeyError`` with the registry's not-found text for an unknown name,
    like ``kestrova.Get``, and ``TypeError`` for a name that is not a
    ``str``.
    """
    if not isinstance(name, str):
        raise TypeError(f"describe: name must be a str, not {type(name).__qualname__}")
    return _entry(name)[1]


def _names() -> list[str]:
    return [*_pure.list_constants(), *_pure.list_quarks(), CKM]


# Close spellings count only between words this long: shorter ones are too
# close to everything.
_SHORTEST = 3


def _close(word: str, text: str) -> bool:
    if len(word) < _SHORTEST:
        return False
    # Whole words and their parts ("tau" in "m_tau_mev").
    words = {w for w in re.findall(r"\w+|[^\W_]+", text) if len(w) >= _SHORTEST}
    return bool(difflib.get_close_matches(word, words, n=1))


def search(text: str) -> list[str]:
    """Return the names of the constants, quarks and CKM matrix that match ``text``, best first.

    Case is ignored. Every word of ``text`` must occur in the entry's name,
    units, description or aliases. An exact name comes first, then names
    that start with ``text``, then names with ``text`` as an alias, then the
    rest; names in byte order within each rank. Only when nothing holds
    every word as typed do close spellings count ("hubbel" for "hubble"),
    the names closest to ``text`` first. Raises ``ValueError`` when
    ``text`` holds nothing but white space, and ``TypeError`` when it is
    not a ``str``.
    """
    if not isinstance(text, str):
        raise TypeError(f"search: text must be a str, not {type(text).__qualname__}")
    query = " ".join(text.split()).casefold()
    if not query:
        raise ValueError("search: text must not be empty")
    exact: list[tuple[float, str]] = []
    close: list[tuple[float, str]] = []
    for name in _names():
        units, description, aliases = _entry(name)
        words = "\n".join([name, units, description, *aliases]).casefold()
        folded = name.casefold()
        if all(word in words for word in query.split()):
            if folded == query:
                rank = 0
            elif folded.startswith(query):
                rank = 1
            elif query in (a.casefold() for a in aliases):
                rank = 2
            else:
                rank = 3
            exact.append((rank, name))
        elif all(word in words or _close(word, words) for word in query.split()):
            close.append((-difflib.SequenceMatcher(None, query, folded).ratio(), name))
    return [name for _, name in sorted(exact or close)]
