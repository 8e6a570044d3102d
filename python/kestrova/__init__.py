"""kestrova: the figures of one physical model, set beside measured reference data.

The constants, the quark masses and the CKM matrix are one model's figures,
not measured values; ``compare`` sets them beside the measured ones, and the
user guide says where the two differ. A fast native core holds the model's
data too.

``list_constants``, ``list_quarks`` and ``Get`` are pure Python. Their
accelerated twins live in the native module ``kestrova._norvel_core``
(``py_list_constants``, ``py_list_quarks``, ``py_get_constant``), which this
package does not import until asked for it.

``constant``, ``quark`` and ``ckm`` return immutable records of the model's
figures, and ``constants`` and ``quarks`` all of them; a pending constant's
figure is computed from its expression. Records show themselves as text,
HTML and LaTeX in a notebook; ``quantity()`` gives a figure with its units
(``pip install 'kestrova[units]'``) and ``to_dataframe()`` a collection as a
table (``pip install 'kestrova[dataframe]'``).

``search`` finds constants, quarks and the CKM matrix by name, units or the
words that describe them, forgiving close spellings; ``describe`` says in
one line what each is, and ``compare`` sets the model's figures beside the
measured ones (``pip install 'kestrova[compare]'``).

``Datasheet``, ``Quark`` and ``Status`` are the types these functions and the
native module's stubs name; they exist at run time too, for annotations and
``typing.get_type_hints``.
"""

from kestrova._about import describe, search
from kestrova._compare import Comparison, ComparisonTable, MissingMeasurements, compare
from kestrova._display import MissingPandas
from kestrova._pure import Datasheet, Get, Quark, Status, list_constants, list_quarks
from kestrova._records import (
    CKM,
    Constant,
    QuarkRecord,
    Records,
    ckm,
    constant,
    constants,
    quark,
    quarks,
)
from kestrova._units import MissingUnits
from kestrova._version import __version__

__all__ = [
    "CKM",
    "Comparison",
    "ComparisonTable",
    "Constant",
    "Datasheet",
    "Get",
    "MissingMeasurements",
    "MissingPandas",
    "MissingUnits",
    "Quark",
    "QuarkRecord",
    "Records",
    "Status",
    "__version__",
    "ckm",
    "compare",
    "constant",
    "constants",
    "describe",
    "list_constants",
    "list_quarks",
    "quark",
    "quarks",
    "search",
]
