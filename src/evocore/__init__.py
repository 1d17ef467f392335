"""evocore: the numeric core of an evolutionary-optimisation toolkit.

Each operator lives in its own compiled module, ``evocore.core.<name>``, and is re-exported
here.  The modules are imported on first use, so that ``evocore.core.build`` (the version key)
imports without NumPy.
"""

import importlib

from .core import KEY as _KEY, OPERATORS as _OPERATORS

__version__ = "2.7.0"

_MODULES = (*_OPERATORS, _KEY)

__all__ = ["__version__", *_MODULES]


def __getattr__(name):
    if name in _MODULES:
        function = getattr(importlib.import_module(f"{__name__}.core.{name}"), name)
        globals()[name] = function
        return function
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__():
    return sorted(set(globals()) | set(_MODULES))
