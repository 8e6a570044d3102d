"""The ``kestrova`` command line (also ``python -m kestrova``).

Every command reads its data through one set of twins: the native functions
by default, the pure-Python ones with ``--pure``. Where no pure twin exists
(the CKM matrix, and the quark figures beyond the names), both modes use the
same source, so the two modes print the same text. The expressions of
pending constants, which the native datasheet leaves out, come from the
package's own table in both modes, and so do the descriptions and the
search. ``compare`` reads the measured figures from the optional packages of
``kestrova[compare]``.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Sequence

from kestrova.cli._commands import Failure, suggestions, twins
from kestrova.cli._parser import build_parser

__all__ = ["build_parser", "main", "suggestions", "twins"]


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default ``sys.argv[1:]``); return the exit status."""
    try:
        parser = build_parser()
        try:
            args = parser.parse_args(argv)
        except SystemExit:
            # --help exits from inside argparse, which ignores a failed write
            # and leaves the text in the buffer for the flush at exit.
            sys.stdout.flush()
            raise
        if args.json and args.no_json:
            parser.error(f"argument --json: {args.no_json} has no JSON form")
        try:
            lines, failure = args.run(args), None
        except Failure as exc:
            lines, failure = exc.output, exc
        if lines:
            print("\n".join(lines))
        sys.stdout.flush()
        if failure is not None:
            for line in str(failure).splitlines():
                print(f"kestrova: {line}", file=sys.stderr)
            return 1
    except BrokenPipeError:
        # The reader has all it wanted (`kestrova | head`): not a failure. The
        # unwritten rest goes nowhere, so the flush at exit cannot complain.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except KeyboardInterrupt:
        return 130
    return 0
