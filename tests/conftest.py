import pytest
from outcomes import panic_class


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException class, obtained the only way callers can: from a panic."""
    return panic_class()
