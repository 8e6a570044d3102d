"""kestrova: the figures of one physical model, with a fast native core.

The figures are the model's, not measured values; the user guide compares
the two.

``list_constants``, ``list_quarks`` and ``Get`` are pure Python. Their
accelerated twins live in the native module ``kestrova._norvel_core``
(``py_list_constants``, ``py_list_quarks``, ``py_get_constant``), which this
package does not import until asked for it.

``Datasheet``, ``Quark`` and ``Status`` are the types these functions and the
native module's stubs name; they exist at run time too, for annotations and
``typing.get_type_hints``.
"""

from kestrova._pure import Datasheet, Get, Quark, Status, list_constants, list_quarks
from kestrova._version import __version__

__all__ = ["Datasheet", "Get", "Quark", "Status", "__version__", "list_constants", "list_quarks"]
