"""build: the version key of the core, a module with one function that does nothing."""

import types

import pytest

import evocore
from evocore.core.build import build

DOC = "\n    This file is set up as a key to control the version of the core.\n    "


def test_build_returns_none():
    assert build() is None
    assert build(*(), **{}) is None


@pytest.mark.parametrize(
    "args, kwargs",
    [((1,), {}), ((None,), {}), ((), {"x": 1}), ((1,), {"x": 1}), ((), {"Parallel": False})],
)
def test_build_takes_no_arguments(args, kwargs):
    with pytest.raises(TypeError, match=r"build\(\) takes no (keyword )?arguments"):
        build(*args, **kwargs)


def test_function_attributes():
    assert isinstance(build, types.BuiltinFunctionType)
    assert build.__name__ == "build"
    assert build.__module__ == "evocore.core.build"
    assert build.__doc__ == DOC
    assert evocore.build is build


def test_imports_without_numpy(python):
    p = python(
        """
        import sys
        sys.modules["numpy"] = None
        import evocore.core.build as m
        from evocore import build
        assert build is m.build and build() is None and not hasattr(m, "np")
        print("ok")
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout == "ok\n"


def test_needs_no_builtins_at_initialisation(python):
    p = python(
        """
        import builtins
        import evocore
        del builtins.range, builtins.ValueError
        import evocore.core.build as m
        print(m.build())
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout == "None\n"
