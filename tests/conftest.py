import sys

import pytest

from _support import run_python


@pytest.fixture
def python():
    """Runs a snippet in a fresh interpreter: python(code, env=..., options=...)."""
    return run_python


def pytest_terminal_summary(terminalreporter):
    # the fuzz suite's count of calls, when it ran
    fuzz = sys.modules.get("test_fuzz")
    if fuzz is not None:
        fuzz.report(terminalreporter.write_line)
