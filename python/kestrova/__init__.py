"""kestrova: physical reference data with a fast native core.

``list_constants``, ``list_quarks`` and ``Get`` are pure Python. Their
accelerated twins live in the native module ``kestrova._norvel_core``
(``py_list_constants``, ``py_list_quarks``, ``py_get_constant``), which this
package does not import until asked for it.
"""

from kestrova._pure import Get, list_constants, list_quarks
from kestrova._version import __version__

__all__ = ["Get", "list_constants", "list_quarks", "__version__"]
