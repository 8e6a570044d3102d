"""``python -m kestrova``: the command line."""

import sys

from kestrova.cli import main

sys.exit(main())
