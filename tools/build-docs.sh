#!/usr/bin/env bash
# Usage: tools/build-docs.sh   (into build/docs/html; fails on any warning or failed example)
# Installs the documentation tools and the package from this tree, builds the
# site with every warning an error, then runs the pages' examples as doctests.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python3}  # a venv's, e.g. build/venvs/3.11/bin/python

# The project's docs group; --group needs pip 25.1.
"$python" -m pip install --quiet --disable-pip-version-check --upgrade "pip>=25.1" \
    "scikit-build-core>=0.11"
"$python" -m pip install --quiet --disable-pip-version-check --group docs
# The same install as tools/run-tests.sh (same flags, so its build is reused):
# the pages describe this tree.
KESTROVA_WERROR=ON "$python" -m pip install --quiet --disable-pip-version-check \
    --no-build-isolation .

rm -rf build/docs
export MPLBACKEND=Agg
echo "== docs: html"
"$python" -m sphinx -W --keep-going -q -b html -d build/docs/doctrees docs build/docs/html
echo "== docs: examples"
"$python" -m sphinx -W --keep-going -q -b doctest -d build/docs/doctrees docs build/docs/doctest
tail -n 4 build/docs/doctest/output.txt
pages=$(find build/docs/html -name '*.html' -not -path '*/_*' | wc -l)
echo "docs: $pages pages in build/docs/html"
