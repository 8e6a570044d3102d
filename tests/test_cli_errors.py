"""The command line's errors, its search and its suggestions."""

import json

import pytest
from cli_run import NAMES, run

import kestrova
from kestrova.cli import suggestions


@pytest.mark.parametrize("mode", [[], ["--pure"]], ids=["native", "pure"])
@pytest.mark.parametrize(
    "argv, status, message",
    [
        (
            ["get", "B3"],
            1,
            "kestrova: constant `B3` not found in registry\nkestrova: did you mean b3?\n",
        ),
        (
            ["get", " phi"],
            1,
            "kestrova: constant ` phi` not found in registry\nkestrova: did you mean phi?\n",
        ),
        (
            ["get", "n_gen_s"],
            1,
            "kestrova: constant `n_gen_s` not found in registry\n"
            "kestrova: did you mean n_gen_sq or n_gen?\n",
        ),
        (["get", "xyzzy"], 1, "kestrova: constant `xyzzy` not found in registry\n"),
        # the name alone, though n_gen_sq is a close spelling too
        (
            ["get", "N_GEN"],
            1,
            "kestrova: constant `N_GEN` not found in registry\nkestrova: did you mean n_gen?\n",
        ),
        (["get", " "], 1, "kestrova: constant ` ` not found in registry\n"),  # nothing to search
        (["get", ""], 2, "kestrova get: error: argument NAME: the name must be non-empty\n"),
        (
            ["get", "\udcff"],
            2,
            "kestrova get: error: argument NAME: the name '\\udcff' is not valid UTF-8\n",
        ),
        (["get"], 2, "kestrova get: error: the following arguments are required: NAME\n"),
        (["plot"], 2, "kestrova plot: error: the following arguments are required: -o/--output\n"),
        (
            ["ckm", "--tol", "x"],
            2,
            "kestrova ckm: error: argument --tol: invalid float value: 'x'\n",
        ),
        *[
            (
                ["ckm", f"--tol={tol}"],
                2,
                f"kestrova ckm: error: argument --tol: must be a finite number >= 0, not '{tol}'\n",
            )
            for tol in ["-1e-12", "nan", "inf", "-0.5"]
        ],
        (
            ["plot", "-o", "ladder.txt"],
            2,
            "kestrova plot: error: argument -o/--output: "
            "'ladder.txt' must end in .svg, .png or .pdf\n",
        ),
        *[
            (
                [command],
                2,
                (
                    f"kestrova: error: argument COMMAND: invalid choice: '{command}'{hint} "
                    f"(choose from {', '.join(NAMES)})\n"
                ),
            )
            for command, hint in [
                ("nope", ""),
                ("cmp", ", maybe you meant 'ckm'?"),  # the nearest alone, compare is near too
                ("a (choose from b", ""),
                ("qaurks", ", maybe you meant 'quarks'?"),
                ("Get", ", maybe you meant 'get'?"),
            ]
        ],
        (["search", " "], 2, "kestrova search: error: argument TEXT: the text must not be empty\n"),
        (["--json"], 2, "kestrova: error: argument --json: the overview has no JSON form\n"),
        (
            ["--json", "plot", "-o", "l.v2.svg"],  # the suffix after the last dot
            2,
            "kestrova: error: argument --json: plot has no JSON form\n",
        ),
    ],
)
def test_errors(capsys, mode, argv, status, message):
    code, out, err = run(capsys, [*mode, *argv])
    assert (code, out) == (status, "")
    assert (err if status == 1 else err.splitlines(keepends=True)[-1]) == message
    assert status == 1 or err.startswith("usage: kestrova")


@pytest.mark.parametrize(
    "text, found, suggested",
    [
        ("tau", ["m_tau_mev"], "m_tau_mev"),
        ("TAU  Mass", ["m_tau_mev"], None),
        ("hubble", ["h0_central"], "h0_central"),
        ("H0", ["h0_central"], "h0_central"),
        ("golden", ["phi"], "phi"),
        ("euler", ["gamma_em"], "gamma_em"),
        ("higgs", ["v_higgs_mev"], "v_higgs_mev"),
        ("vev", ["v_higgs_mev"], "v_higgs_mev"),
        ("fermi constant", ["v_higgs_mev"], None),
        ("cosmological constant", ["w0_central"], None),
        # an exact name, then a prefix, then the rest
        ("n_gen", ["n_gen", "n_gen_sq", "topo_gen_check"], ""),
        ("top", ["top", "topo_gen_check", "v_higgs_mev"], ""),
        # an alias before a mere mention
        (
            "generations",
            ["n_gen", "topo_gen_check", "b3", "chi_eff", "n_gen_sq"],
            "n_gen, topo_gen_check, b3, chi_eff or n_gen_sq",
        ),
        # the search's hits, then the close spellings, at most five
        ("n_gen_s", ["n_gen_sq"], "n_gen_sq or n_gen"),
        (
            "sterile_sectr",
            ["sterile_sector", "sterile_check", "visible_sector"],
            "sterile_sector, sterile_check or visible_sector",
        ),
        (
            "count",
            [
                *("jc_constant", "logic_closure", "n_gen", "n_gen_sq", "roots_total"),
                *("sterile_check", "sterile_sector", "topo_gen_check", "visible_sector"),
            ],
            "jc_constant, logic_closure, n_gen, n_gen_sq or roots_total",
        ),
        ("xyzzy", [], None),
        ("xx", [], None),  # too short for a close spelling
        ("nothinghere", [], None),  # no close spelling drawn from the descriptions' prose
        # the quarks and the CKM matrix
        ("top quark", ["top", "v_higgs_mev"], None),
        ("bottom", ["bottom"], ""),
        ("quark mass", [*kestrova.list_quarks(), "phi", "v_higgs_mev"], None),
        (
            "quark",
            [*kestrova.list_quarks(), "ckm", "phi", "v_higgs_mev"],
            "bottom, charm, down, strange or top",
        ),
        ("CKM", ["ckm"], "ckm"),
        ("jarlskog", ["ckm"], None),
        ("mixing", ["ckm"], None),
        # close spellings, only where nothing matches as typed
        ("tua", ["m_tau_mev"], "m_tau_mev"),
        ("hubbel", ["h0_central"], "h0_central"),
        ("jarlskg", ["ckm"], None),
        ("tua mass", ["m_tau_mev"], None),
        # more words, fewer hits
        ("higgs vev", ["v_higgs_mev"], None),
        ("top quark mass", ["top", "v_higgs_mev"], None),
    ],
)
def test_search_and_suggestions(capsys, text, found, suggested):
    hits = kestrova.search(text)
    assert hits == found
    code, out, err = run(capsys, ["search", text, "--json"])
    if found:
        assert (code, json.loads(out), err) == (0, hits, "")
        width = max(4, *map(len, hits))
        assert run(capsys, ["search", text])[1].splitlines() == [
            f"{'name':<{width}}  description",
            *(f"{n:<{width}}  {kestrova.describe(n)}" for n in hits),
        ]
    else:  # still JSON, and still a failure
        assert (code, out, err) == (1, "[]\n", f"kestrova: no constant matches {text!r}\n")
        assert run(capsys, ["search", text]) == (1, "", err)
    if suggested is not None:  # "" for a name that exists
        code, _, err = run(capsys, ["get", text])
        hint = f"kestrova: did you mean {suggested}?\n" if suggested else ""
        assert (code, err) == (
            (1, f"kestrova: constant `{text}` not found in registry\n{hint}")
            if suggested
            else (0, "")
        )


@pytest.mark.parametrize(
    "name, expected",
    [
        (" N_GEN", ["n_gen"]),  # differs only in case and spaces: the answer on its own
        ("abcd", ["xbcd", "axcd", "abxd"]),  # four as close: three at most
    ],
)
def test_suggestions(name, expected):
    assert suggestions(name, ["n_gen", "n_gen_sq", "abxd", "axcd", "xbcd", "Abcx"]) == expected


def test_search_rejects_what_is_no_text():
    with pytest.raises(ValueError, match=r"^search: text must not be empty$"):
        kestrova.search(" \t")
    with pytest.raises(TypeError, match=r"^search: text must be a str, not bytes$"):
        kestrova.search(b"tau")
    with pytest.raises(TypeError, match=r"^describe: name must be a str, not bytes$"):
        kestrova.describe(b"phi")
