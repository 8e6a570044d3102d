"""kestrova: the figures of one physical model, with a fast native core.

The figures are the model's, not measured values; the user guide compares
the two.

``list_constants``, ``list_quarks`` and ``Get`` are pure Python. Their
accelerated twins live in the native module ``kestrova._norvel_core``
(``py_list_constants``, ``py_list_quarks``, ``py_get_constant``), which this
package does not import until asked for it.

``search`` finds constants by name, units or the words that describe them,
``describe`` says in one line what a constant is, and ``compare`` sets the
model's masses beside the measured ones (``pip install 'kestrova[compare]'``).

``Datasheet``, ``Quark`` and ``Status`` are the types these functions and the
native module's stubs name; they exist at run time too, for annotations and
``typing.get_type_hints``.
"""

from kestrova._about import describe, search
from kestrova._compare import Comparison, MissingMeasurements, compare
from kestrova._pure import Datasheet, Get, Quark, Status, list_constants, list_quarks
from kestrova._version import __version__

__all__ = [
    "Comparison",
    "Datasheet",
    "Get",
    "MissingMeasurements",
    "Quark",
    "Status",
    "__version__",
    "compare",
    "describe",
    "list_constants",
    "list_quarks",
    "search",
]
