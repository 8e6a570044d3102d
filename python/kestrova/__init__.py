"""kestrova: physical reference data with a fast native core."""

__version__ = "2.3.0"
