import pytest

from _support import run_python


@pytest.fixture
def python():
    """Runs a snippet in a fresh interpreter: python(code, env=..., options=...)."""
    return run_python
