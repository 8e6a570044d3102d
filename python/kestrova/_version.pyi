# The build writes _version.py from pyproject.toml; this gives its type to a
# checker that reads the source tree.
__version__: str
