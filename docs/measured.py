"""Measured values the user guide compares the model with (not part of the package).

Particle Data Group, Review of Particle Physics (2022): quark masses in MeV,
central values; u, d and s in the MS-bar scheme at 2 GeV, c and b in MS-bar at
their own mass, t from direct measurements.
"""

QUARK_MASSES_MEV = {
    "up": 2.16,
    "down": 4.67,
    "strange": 93.4,
    "charm": 1270.0,
    "bottom": 4180.0,
    "top": 172690.0,
}


def comparison():
    """(name, model MeV, measured MeV, model / measured), heaviest first."""
    from kestrova.plot import ladder

    return [
        (r.name, r.mass_mev, QUARK_MASSES_MEV[r.name], r.mass_mev / QUARK_MASSES_MEV[r.name])
        for r in ladder()
    ]


def draw_comparison(ax):
    """The model's masses and the measured ones side by side, on a log scale."""
    rows = comparison()
    xs = range(len(rows))
    ax.plot(xs, [r[1] for r in rows], "o", color="#d62728", label="model: 246220 MeV / φⁿ")
    ax.plot(xs, [r[2] for r in rows], "s", color="#1f77b4", label="measured (PDG 2022)")
    for x, (_, model, measured, ratio) in zip(xs, rows):
        ax.vlines(x, measured, model, color="0.7", linewidth=1)
        ax.annotate(
            f"×{ratio:.3g}",
            (x, (model * measured) ** 0.5),
            xytext=(6, 0),
            textcoords="offset points",
            va="center",
        )
    ax.set_xticks(list(xs), [r[0] for r in rows])
    ax.set_xlim(-0.5, len(rows) - 0.2)
    ax.set_yscale("log")
    ax.set_ylabel("mass (MeV, log scale)")
    ax.set_title("Quark masses: the model against measurement")
    ax.grid(True, axis="y", alpha=0.3)
    ax.legend(loc="upper right")
