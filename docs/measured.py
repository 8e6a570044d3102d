"""What the user guide sets beside the model's figures (not part of the package).

The quark and tau masses and v come from ``kestrova.compare()``, which reads
them at build time from ``particle`` (PDG) and ``scipy.constants`` (CODATA),
pinned in the docs dependency group; the measured CKM figures are the
package's own (``kestrova._compare.CKM_MEASURED``), with their source. The
figures that neither carries are written out here, once, each with its
source and year; so are the Particle Data Group's conventions for the quark
masses, which the packages' data does not state. The guide's tables are
drawn from these and from the package's own descriptions by the
``data-table`` directive (conf.py).
"""

import math
from typing import NamedTuple

import kestrova
from kestrova import _compare, _pure


class Figure(NamedTuple):
    what: str
    value: str
    source: str


# Figures no installed package carries: each typed here only.
EXTERNAL = {
    "h0_central": [
        Figure(
            "H₀ from the cosmic microwave background (ΛCDM fit)",
            "67.4 ± 0.5 km/s/Mpc",
            "Planck 2018",
        ),
        Figure(
            "H₀ from the distance ladder (Cepheids and supernovae)",
            "73.04 ± 1.04 km/s/Mpc",
            "SH0ES 2022",
        ),
    ],
    "w0_central": [
        Figure(
            "w₀ in fits with a constant w",
            "consistent with −1 within a few per cent",
            "Planck 2018 with BAO and supernovae",
        ),
        Figure(
            "w₀ in fits with w = w₀ + wₐ(1 − a)",
            "w₀ > −1 preferred at roughly 2.5–4σ, depending on the supernova sample",
            "DESI DR2 BAO with CMB and supernovae, 2025",
        ),
    ],
}
_SUPERSCRIPTS = str.maketrans("-0123456789", "⁻⁰¹²³⁴⁵⁶⁷⁸⁹")


def _as_written(m):
    """A measured CKM figure as the review writes it: "(3.12 +0.13 −0.12) × 10⁻⁵"."""
    scale = math.floor(math.log10(abs(m.value))) if abs(m.value) < 1e-3 else 0
    value, up, down = (x / 10**scale for x in (m.value, m.upper, m.lower))
    text = f"{value:.10g}"
    digits = len(text.partition(".")[2])  # the uncertainties to the value's last digit
    spread = f"± {up:.{digits}f}" if up == down else f"+{up:.{digits}f} −{down:.{digits}f}"
    if not scale:
        return f"{text} {spread}"
    return f"({text} {spread}) × 10{str(scale).translate(_SUPERSCRIPTS)}"


def _masses():
    """The records of compare() that are masses: the quarks, the tau and v."""
    return [r for r in kestrova.compare() if r["units"] == "MeV"]


# The PDG's convention for each mass: (scheme, scale). Not in the packages' data.
CONVENTIONS = {
    "up": ("MS-bar", "μ = 2 GeV"),
    "down": ("MS-bar", "μ = 2 GeV"),
    "strange": ("MS-bar", "μ = 2 GeV"),
    "charm": ("MS-bar", "μ = m_c (its own mass)"),
    "bottom": ("MS-bar", "μ = m_b (its own mass)"),
    "top": ("direct measurements (close to the pole mass)", "—"),
    "m_tau_mev": ("pole (physical) mass", "—"),
    "v_higgs_mev": ("(√2 G_F)^-1/2, G_F from the muon lifetime", "—"),
}


def comparison():
    """(name, model MeV, measured MeV, model / measured) for the six quarks, heaviest first."""
    return [(r["name"], r["model"], r["measured"], r["ratio"]) for r in _masses()[:6]]


def editions():
    """The sources and editions of the measured masses, as "PDG 2026, CODATA 2022"."""
    return ", ".join(dict.fromkeys(f"{r['source']} {r['edition']}" for r in _masses()))


def _uncertainty(r):
    up, down = r["uncertainty_upper"], r["uncertainty_lower"]
    return f"± {up:.3g}" if up == down else f"+{up:.3g} −{down:.3g}"


def _list_table(header, rows, widths):
    lines = [".. list-table::", "   :header-rows: 1", f"   :widths: {widths}", ""]
    for row in [header, *rows]:
        lines.append(f"   * - {row[0]}")
        lines.extend(f"     - {cell}" for cell in row[1:])
    return lines


def _constants(status):
    names = [n for n in kestrova.list_constants() if kestrova.Get(n)["status"] == status]
    # The figures the package says the most about first.
    names.sort(key=lambda n: n not in ("n_gen", "phi", "gamma_em", *EXTERNAL, "v_higgs_mev"))
    return names


def seed_table():
    rows = []
    for name in _constants("Seed"):
        sheet = kestrova.Get(name)
        rows.append((f"``{name}``", repr(sheet["value"]), sheet["units"], kestrova.describe(name)))
    return _list_table(("name", "value", "units", "what it is"), rows, "18 20 14 48")


def pending_table():
    measured = {r["name"]: r for r in kestrova.compare()}
    rows = []
    for name in _constants("Pending"):
        if name in measured:
            r = measured[name]
            seen = (
                f"{r['measured']:g} {_uncertainty(r)} {r['units']} ({r['source']} {r['edition']})"
            )
        elif name in EXTERNAL:
            seen = "; ".join(f"{f.what}: {f.value} ({f.source})" for f in EXTERNAL[name])
        else:
            seen = "nothing: a figure of the model alone"
        expression = _pure.expression(name)
        sheet = kestrova.Get(name)
        rows.append(
            (f"``{name}``", f"``{expression}``", sheet["units"], kestrova.describe(name), seen)
        )
    header = ("name", "expression", "units", "what it stands for", "what is measured")
    return _list_table(header, rows, "15 18 10 32 25")


def quark_table():
    rows = []
    for r in _masses():
        scheme, scale = CONVENTIONS[r["name"]]
        rows.append(
            (
                r["name"],
                f"{r['measured']:.8g}",
                _uncertainty(r),
                scheme,
                scale,
                f"{r['ratio']:#.4g}",
                f"{r['source']} {r['edition']}",
            )
        )
    header = (
        "name",
        "measured (MeV)",
        "uncertainty",
        "scheme (PDG convention)",
        "scale",
        "model / measured",
        "source",
    )
    return _list_table(header, rows, "12 14 12 24 16 11 11")


def ckm_table():
    rows = [
        (m.name.replace("|", r"\|"), _as_written(m), f"{m.source} {m.edition}, {m.what}")
        for m in _compare.CKM_MEASURED
    ]
    return _list_table(("quantity", "measured", "source"), rows, "20 40 40")


def editions_note():
    records = _masses()
    used = dict.fromkeys(f"**{r['source']} {r['edition']}** ({r['package']})" for r in records)
    return [f"This build uses {' and '.join(used)}.", ""]


TABLES = {
    "editions": editions_note,
    "seed": seed_table,
    "pending": pending_table,
    "quarks": quark_table,
    "ckm": ckm_table,
}


def draw_comparison(ax):
    """The model's masses and the measured ones side by side, on a log scale."""
    records = _masses()[:6]
    xs = range(len(records))
    ax.plot(xs, [r["model"] for r in records], "o", color="#d62728", label="model: 246220 MeV / φⁿ")
    ax.errorbar(
        xs,
        [r["measured"] for r in records],
        yerr=[[r["uncertainty_lower"] for r in records], [r["uncertainty_upper"] for r in records]],
        fmt="s",
        color="#1f77b4",
        capsize=3,
        label=f"measured ({records[0]['source']} {records[0]['edition']}, "
        f"via {records[0]['package']})",
    )
    for x, r in zip(xs, records, strict=True):
        ax.vlines(x, r["measured"], r["model"], color="0.7", linewidth=1)
        ax.annotate(
            f"×{r['ratio']:.3g}",
            (x, (r["model"] * r["measured"]) ** 0.5),
            xytext=(6, 0),
            textcoords="offset points",
            va="center",
        )
    ax.set_xticks(list(xs), [r["name"] for r in records])
    ax.set_xlim(-0.5, len(records) - 0.2)
    ax.set_yscale("log")
    ax.set_ylabel("mass (MeV, log scale)")
    ax.set_title("Quark masses: the model against measurement")
    ax.grid(True, axis="y", alpha=0.3)
    ax.legend(loc="upper right")
