import pytest


@pytest.fixture(scope="session")
def core():
    import kestrova._norvel_core as core

    return core


@pytest.fixture(scope="session")
def panic_exception(core):
    """The PanicException class, obtained the only way callers can: from a panic."""
    try:
        core.py_get_constant("")
    except BaseException as exc:  # noqa: BLE001 - the class is what we are after
        return type(exc)
    raise AssertionError("the empty name did not panic")
