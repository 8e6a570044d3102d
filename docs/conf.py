"""Sphinx configuration of the kestrova documentation (built by `nox -s docs`)."""

import ast
import sys
from importlib import resources
from pathlib import Path

from docutils import nodes
from docutils.parsers.rst import Directive
from docutils.statemachine import StringList

import kestrova

sys.path.insert(0, str(Path(__file__).resolve().parent))  # measured.py for the figures

import measured

project = "kestrova"
author = "the kestrova developers"
copyright = "the kestrova developers"
release = version = kestrova.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.doctest",
    "sphinxarg.ext",
    "myst_nb",  # MyST markdown, and the notebook page run on every build
    "matplotlib.sphinxext.plot_directive",
]
source_suffix = {".rst": "restructuredtext", ".md": "myst-nb"}
exclude_patterns = ["_build"]
default_role = "literal"
html_theme = "furo"
html_title = f"kestrova {release}"
html_show_sourcelink = False

autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_preserve_defaults = True

# The figures are drawn from the package's data on every build.
plot_formats = [("svg", 100)]
plot_html_show_formats = False
plot_html_show_source_link = False
plot_include_source = False
plot_rcparams = {"svg.hashsalt": "kestrova", "font.size": 10}

# The notebook page runs on every build. A cell that raises is a warning,
# so it fails the build as a failed example does, with its traceback shown.
nb_execution_mode = "force"
nb_execution_show_tb = True
nb_execution_timeout = 120

doctest_global_setup = "import kestrova"
# The README's sections included below may use any heading level.
suppress_warnings = ["myst.header"]


# The native module carries runtime text signatures without types and short
# docstrings; its stubs hold the types and say what each call raises. Show
# the stubs' version of both.
def _stub_entries():
    tree = ast.parse(resources.files("kestrova").joinpath("_norvel_core.pyi").read_text())
    entries = {}

    def visit(body, prefix):
        for node in body:
            if isinstance(node, ast.ClassDef):
                entries[prefix + node.name] = (None, None, ast.get_docstring(node))
                visit(node.body, prefix + node.name + ".")
            elif isinstance(node, ast.FunctionDef) and not node.name.startswith("__"):
                args = node.args
                if args.args and args.args[0].arg in ("self", "cls"):
                    args.args = args.args[1:]
                returns = ast.unparse(node.returns) if node.returns else None
                entries[prefix + node.name] = (
                    f"({ast.unparse(args)})",
                    returns.replace("_Datasheet", "kestrova.Datasheet") if returns else None,
                    ast.get_docstring(node),
                )

    visit(tree.body, "")
    return entries


STUBS = _stub_entries()
NATIVE = "kestrova._norvel_core."


def _signature(app, what, name, obj, options, signature, return_annotation):
    entry = STUBS.get(name.removeprefix(NATIVE)) if name.startswith(NATIVE) else None
    if entry and entry[0] is not None:
        return entry[0], entry[1]
    if entry and what == "class":
        # The stubs give PyCKMMatrix an unfillable __new__ so that type
        # checkers reject calling the class; a reader needs no signature.
        return "", None
    return None


def _docstring(app, what, name, obj, options, lines):
    entry = STUBS.get(name.removeprefix(NATIVE)) if name.startswith(NATIVE) else None
    if entry and entry[2]:
        lines[:] = entry[2].splitlines()


class DataTable(Directive):
    """``.. data-table:: NAME``: a table drawn at build time by ``measured.TABLES[NAME]``."""

    required_arguments = 1

    def run(self):
        lines = measured.TABLES[self.arguments[0]]()
        holder = nodes.container()
        self.state.nested_parse(StringList(lines, "measured.py"), self.content_offset, holder)
        return holder.children


def setup(app):
    app.add_directive("data-table", DataTable)
    app.connect("autodoc-process-signature", _signature)
    app.connect("autodoc-process-docstring", _docstring)
