"""The module frame as druvik shows it: initialisation, attributes, argument binding, the Parallel
switch, coercion of array arguments, memory safety, reference counting and the thread team."""

import builtins
import concurrent.futures
import gc
import importlib
import importlib.machinery
import os
import subprocess
import sys
import sysconfig
import textwrap
import threading
import time
import traceback
import types

import numpy as np
import pytest

import evocore
import evocore.core.druvik as druvik_module
from _support import MESSAGES, SANITIZED, TESTS_DIR, assert_bytes_equal, assert_same
from evocore.core._tamsen_rows import _tamsen_rows
from evocore.core.druvik import druvik

A = np.array
X = A([[1.0, 4.0], [3.0, 2.0]])
W = A([[0.5, 0.5], [0.9, 0.1]])
Z = A([1.0, 2.0])


# ---- module and function attributes ------------------------------------------------------------


MODULES = evocore._MODULES


def test_the_package_lists_every_compiled_module():
    folder = os.path.dirname(evocore.core.__file__)
    suffixes = tuple(importlib.machinery.EXTENSION_SUFFIXES)
    built = {f.split(".")[0] for f in os.listdir(folder) if f.endswith(suffixes) and not f.startswith("lib")}
    assert built == set(evocore.core.MODULES)


@pytest.mark.parametrize("name", MODULES)
def test_module_attributes(name):
    m = importlib.import_module(f"evocore.core.{name}")
    operator = name != "build"
    assert (getattr(m, "np", None) is np) == operator
    assert type(m.__test__) is dict and m.__test__ == {}
    assert m.__builtins__ is builtins
    assert m.__loader__ is m.__spec__.loader
    assert m.__file__ == m.__spec__.origin
    assert os.path.isfile(m.__file__)
    assert m.__package__ == "evocore.core"
    assert m.__name__ == f"evocore.core.{name}"
    assert m.__doc__ is None
    assert set(vars(m)) == {
        "__builtins__", "__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__",
        "__test__", name, *(["np"] if operator else []), *(["_seeded"] if name in SEEDED else []),
        *(["_forms"] if name in evocore.core.FORMS else []),
    }


# The random modules' private entry: the seed material first, then the public call's arguments.
SEEDED = {
    "tamsen": [((5, np.array([[0.0, 1, -2], [1, 9, 2], [0, 1, 0]])), {}),
               ((400,), {"FieldDR": np.array([[0.0] * 50, [1] * 50, [0] * 50]), "Parallel": True})],
    "sarnet": [((np.array([np.random.default_rng(3).permutation(30) for _ in range(9)], dtype=np.int32),), {}),
               ((np.tile(np.arange(200, dtype=np.int32), (120, 1)), 1.0, 60, True), {})],
}


@pytest.mark.parametrize("name, args, kwargs", [(n, *c) for n, cases in SEEDED.items() for c in cases])
def test_seeded_entry_is_the_call_after_that_draw(name, args, kwargs):
    m = importlib.import_module(f"evocore.core.{name}")
    state = np.random.get_state()
    np.random.seed(11)
    draw = np.random.randint(2, 2147483647)
    np.random.seed(11)
    expected = getattr(m, name)(*args, **kwargs)
    after = np.random.get_state()
    got = m._seeded(draw, *args, **kwargs)
    assert_bytes_equal(got, expected)
    assert all(np.array_equal(a, b) for a, b in zip(np.random.get_state(), after))  # nothing drawn
    np.random.set_state(state)
    for bad in (1, 2**31 - 1, 7.0, "7"):
        with pytest.raises(ValueError, match="randDelta"):
            m._seeded(bad, *args, **kwargs)


SIGNATURES = {
    "druvik": "(ObjV, weights, idealPoint=None, CV=None, maxormins=None, Parallel=False)",
    "quelan": "(ObjV, weights, idealPoint=None, CV=None, maxormins=None, Theta=5, Parallel=False)",
    "ornavi": "(ObjV, CV=None, maxormins=None, old_idealPoint=None, reverse=False)",
    "fendrik": "(CV, Threshold=None, return_count=False, Parallel=False)",
    "ulvaro": "(ObjV, CV=None, maxormins=None, k=1)",
    "velkor": "(Phen, FieldD, Parallel=False)",
    "tamsen": "(Nind, FieldDR, Parallel=False)",
    "sarnet": "(OldChrom, XOVR=0.7, Half_N=False, Parallel=False, params4=None)",
    "polvane": "(A, B, metric='euclidean', Parallel=False)",
    "ndsort": "(ObjV, CV=None, maxormins=None, needNum=None, Parallel=False)",
    "crowding": "(ObjV, levels)",
    "associate": "(ObjV, refpoints)",
    "build": "()",
}


@pytest.mark.parametrize("name", MODULES)
def test_text_signature_leaves_the_docstring_alone(name):
    import inspect

    f = getattr(importlib.import_module(f"evocore.core.{name}"), name)
    assert str(inspect.signature(f)) == SIGNATURES[name]
    # the signature is taken off the front: the docstring starts as documented
    assert f.__doc__.startswith("\n")
    assert name == "build" or f.__doc__.split("\n")[1].strip().startswith(f"{name} : function - ")


def test_function_identity():
    assert isinstance(druvik, types.BuiltinFunctionType)
    assert druvik.__name__ == "druvik"
    assert druvik.__module__ == "evocore.core.druvik"
    assert druvik_module.druvik is druvik


SYNTAX = [
    "CombinObjV = druvik(ObjV, weights)",
    "CombinObjV = druvik(ObjV, weights, idealPoint)",
    "CombinObjV = druvik(ObjV, weights, idealPoint, CV)",
    "CombinObjV = druvik(ObjV, weights, idealPoint, CV, maxormins)",
    "CombinObjV = druvik(ObjV, weights, idealPoint, CV, maxormins, Parallel)",
]
SECTIONS = ["描述", "语法", "输入参数", "输出参数", "参考文献"]


def test_docstring_layout():
    doc = druvik.__doc__
    assert doc.startswith("\ndruvik : function - 切比雪夫法多目标聚合函数(")
    assert doc.endswith("\nCore version: 2.7\n\n")
    lines = doc.split("\n")
    assert lines[1].endswith(" approach)")
    headers = [line.strip().rstrip(":：") for line in lines]
    assert [h for h in headers if h in SECTIONS] == SECTIONS
    start = headers.index("语法") + 1
    end = lines.index("", start)
    assert [line.strip() for line in lines[start:end]] == SYNTAX
    parameters = "\n".join(lines[headers.index("输入参数"):headers.index("输出参数")])
    for name in ("ObjV", "weights", "idealPoint", "CV", "maxormins", "Parallel", "array([1,1,-1,-1])"):
        assert name in parameters
    assert "CombinObjV" in "\n".join(lines[headers.index("输出参数"):headers.index("参考文献")])
    assert "2007" in "\n".join(lines[headers.index("参考文献"):])


# ---- the package --------------------------------------------------------------------------------


def test_package_reexports():
    from evocore import build, druvik as again

    import evocore.core.build

    assert again is druvik and evocore.druvik is druvik
    assert build is evocore.core.build.build
    with pytest.raises(AttributeError):
        evocore.no_such_operator


def test_package_imports_operators_lazily(python):
    p = python(
        """
        import sys
        import evocore
        assert "evocore.core.druvik" not in sys.modules and "numpy" not in sys.modules
        from evocore import druvik
        assert "evocore.core.druvik" in sys.modules and druvik.__name__ == "druvik"
        print("ok")
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout == "ok\n"


# ---- initialisation -----------------------------------------------------------------------------


@pytest.mark.parametrize("name", MODULES)
@pytest.mark.parametrize("form", ["import evocore.core.{0}", "from evocore import {0}"])
def test_import_is_silent_with_warnings_as_errors(python, form, name):
    p = python(form.format(name), options=["-W", "error"])
    assert (p.returncode, p.stdout, p.stderr) == (0, "", "")


def test_initialisation_without_numpy_fails_and_can_be_retried(python):
    p = python(
        """
        import sys, traceback
        sys.modules["numpy"] = None
        try:
            import evocore.core.druvik
        except ImportError as e:
            names = [entry.name for entry in traceback.extract_tb(e.__traceback__)]
            print("init druvik" in traceback.format_exc(), "init druvik" in names)
        else:
            print("imported")
        assert "evocore.core.druvik" not in sys.modules
        del sys.modules["numpy"]
        import numpy as np
        import evocore.core.druvik as m
        print(m.np is np, m.druvik(np.array([[1.0, 4.0], [3.0, 2.0]]), np.array([[0.5, 0.5], [0.9, 0.1]]),
                                   np.array([1.0, 2.0])).tolist())
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout.splitlines() == ["True True", "True [[1.0], [1.8]]"]


# NumPy as the module finds it at initialisation, with some of its types replaced.
FAKE_NUMPY = """
import sys, types, traceback, warnings
import numpy
SMALL = type("Small", (), {"__slots__": ()})
BIG = type("Big", (), {"__slots__": tuple(f"s{i}" for i in range(400))})
fake = types.ModuleType("numpy")
fake.__dict__.update(numpy.__dict__)
%s
sys.modules["numpy"] = fake
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("%s")
    try:
        import evocore.core.druvik as m
    except Exception as e:
        print(f"raised {type(e).__name__}: {e}")
        print("init druvik" in [entry.name for entry in traceback.extract_tb(e.__traceback__)])
    else:
        print("imported", m.np is fake)
for w in caught:
    print(f"{w.category.__name__}: {w.message}")
"""
SMALL = type("Small", (), {"__slots__": ()}).__basicsize__
BIG = type("Big", (), {"__slots__": tuple(f"s{i}" for i in range(400))}).__basicsize__
# The smallest instance sizes of NumPy's types: their fields, after this interpreter's object
# header (16 bytes, 32 on a free-threaded build).
SIZES = {name: object.__basicsize__ + fields
         for name, fields in {"dtype": 72, "flatiter": 2616, "broadcast": 544, "ndarray": 64, "ufunc": 200}.items()}


def size_changed(name, got):
    return (f"numpy.{name} size changed, may indicate binary incompatibility. "
            f"Expected {SIZES[name]} from C header, got {got} from PyObject")


@pytest.mark.parametrize(
    "setup, mode, error",
    [
        ("fake.dtype = 1", "always", "TypeError: numpy.dtype is not a type object"),
        ("fake.ufunc = 'ufunc'", "always", "TypeError: numpy.ufunc is not a type object"),
        ("del fake.flatiter", "always", "AttributeError: module 'numpy' has no attribute 'flatiter'"),
        ("fake.dtype = SMALL", "always", "ValueError: " + size_changed("dtype", SMALL)),
        ("fake.flatiter = SMALL", "always", "ValueError: " + size_changed("flatiter", SMALL)),
        ("fake.broadcast = SMALL", "always", "ValueError: " + size_changed("broadcast", SMALL)),
        ("fake.ndarray = SMALL", "always", "ValueError: " + size_changed("ndarray", SMALL)),
        ("fake.ufunc = SMALL", "always", "ValueError: " + size_changed("ufunc", SMALL)),
        # checked in the order dtype, flatiter, broadcast, ndarray, ufunc
        ("fake.dtype = SMALL; fake.flatiter = 1", "always", "ValueError: " + size_changed("dtype", SMALL)),
        ("fake.broadcast = 1; fake.flatiter = SMALL", "always", "ValueError: " + size_changed("flatiter", SMALL)),
        ("fake.ufunc = 1; fake.ndarray = SMALL", "always", "ValueError: " + size_changed("ndarray", SMALL)),
        # a size warning that the warning filters turn into an error
        ("fake.flatiter = BIG", "error", "RuntimeWarning: " + size_changed("flatiter", BIG)),
        ("fake.ufunc = BIG", "error", "RuntimeWarning: " + size_changed("ufunc", BIG)),
    ],
)
def test_numpy_type_check_failures(python, setup, mode, error):
    p = python(FAKE_NUMPY % (setup, mode))
    assert p.returncode == 0, p.stderr
    assert p.stdout.splitlines()[:2] == [f"raised {error}", "True"]


@pytest.mark.parametrize(
    "name, warning",
    [
        ("flatiter", size_changed("flatiter", BIG)),
        ("ufunc", size_changed("ufunc", BIG)),
        ("dtype", None),
        ("broadcast", None),
        ("ndarray", None),
    ],
)
def test_numpy_types_larger_than_built_for(python, name, warning):
    p = python(FAKE_NUMPY % (f"fake.{name} = BIG", "always"))
    assert p.returncode == 0, p.stderr
    lines = p.stdout.splitlines()
    assert lines[0] == "imported True"
    about = [line for line in lines[1:] if f"numpy.{name} " in line]
    assert about == ([f"RuntimeWarning: {warning}"] if warning else [])


@pytest.mark.parametrize("name", ["RuntimeError", "ValueError", "range"])
def test_missing_builtin_fails_initialisation(python, name):
    p = python(
        f"""
        import builtins, traceback
        import numpy, evocore
        saved = builtins.{name}
        del builtins.{name}
        try:
            import evocore.core.druvik
        except NameError as e:
            error = e
        builtins.{name} = saved  # before the traceback is read, which needs range from 3.13 on
        print(error, "|", "init druvik" in [entry.name for entry in traceback.extract_tb(error.__traceback__)])
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout == f"name '{name}' is not defined | True\n"


# The second interpreters each CPython can make: one that shares the main interpreter's lock
# (every version; "legacy" from 3.13 on), and from 3.12 on one with a lock of its own, which
# refuses, before the module is created, every module that does not declare it can be loaded there.
# A free-threaded build has no lock to share and refuses such modules in every second interpreter.
SECOND_INTERPRETER = """
import evocore.core.{name}
try:
    import _interpreters as interpreters
    kinds = ["legacy", "isolated"]
except ImportError:
    import _xxsubinterpreters as interpreters
    kinds = ["isolated"] if sys.version_info >= (3, 12) else ["legacy"]
for kind in kinds:
    iid = interpreters.create(kind) if sys.version_info >= (3, 13) else interpreters.create()
    try:
        failure = interpreters.run_string(iid, "import evocore.core.{name}")
    except Exception as e:
        failure = e
    print(kind, "|", "imported" if failure is None else getattr(failure, "formatted", str(failure)))
"""


@pytest.mark.parametrize("name", MODULES)
def test_second_interpreter_is_refused(python, name):
    p = python("import sys\n" + SECOND_INTERPRETER.format(name=name))
    assert p.returncode == 0, p.stderr
    ours = "Interpreter change detected - this module can only be loaded into one interpreter per process."
    interpreters = f"module evocore.core.{name} does not support loading in subinterpreters"
    refusals = {"legacy": interpreters if sysconfig.get_config_var("Py_GIL_DISABLED") else ours,
                "isolated": interpreters}
    lines = p.stdout.splitlines()
    assert lines and all(refusals[line.partition(" | ")[0]] in line and "ImportError" in line for line in lines), lines


@pytest.mark.parametrize("name", MODULES)
def test_importing_again_returns_the_same_module(python, name):
    p = python(
        f"""
        import importlib, sys
        import evocore.core.{name} as m
        del sys.modules["evocore.core.{name}"]
        again = importlib.import_module("evocore.core.{name}")
        reloaded = importlib.reload(m)
        print(again is m, reloaded is m, again.{name} is m.{name})
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout == "True True True\n"


@pytest.mark.parametrize("taken", [False, True], ids=["free-name", "name-taken"])
def test_creation_copies_the_import_spec_attributes(python, taken):
    p = python(
        f"""
        import _imp, importlib.util, sys, types
        import numpy as np
        path = importlib.util.find_spec("evocore.core.druvik").origin
        # no loader, parent None, and submodule search locations
        spec = types.SimpleNamespace(name="evocore.core.druvik", origin=path, parent=None,
                                     submodule_search_locations=["somewhere"])
        m = _imp.create_dynamic(spec)
        print(m.__name__, m.__file__ == path, m.__loader__, m.__package__, m.__path__)
        sentinel = object()
        if {taken}:
            sys.modules["evocore.core.druvik"] = sentinel
        _imp.exec_dynamic(m)
        print(sys.modules["evocore.core.druvik"] is (sentinel if {taken} else m), m.__test__, m.np is np)
        print(m.druvik(np.array([[1.0, 4.0]]), np.array([[0.5, 0.5]]), np.array([1.0, 2.0])).tolist())
        print(_imp.create_dynamic(types.SimpleNamespace(name="evocore.core.druvik", origin=path)) is m)
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout.splitlines() == [
        "evocore.core.druvik True None None ['somewhere']",
        "True {} True",
        "[[1.0]]",
        "True",
    ]


def test_one_module_object_per_process(python):
    p = python(
        """
        import importlib.util
        import evocore.core.druvik as m
        spec = importlib.util.spec_from_file_location("druvik", m.__file__)
        other = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(other)
        print(other is m, other.druvik is m.druvik)
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout == "True True\n"


# ---- argument binding ---------------------------------------------------------------------------

SEVEN = (X, W, Z, None, None, False, None)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "druvik() takes at least 2 positional arguments (0 given)"),
        ((X,), {}, "druvik() takes at least 2 positional arguments (1 given)"),
        (SEVEN, {}, "druvik() takes at most 6 positional arguments (7 given)"),
        (SEVEN + (1,), {}, "druvik() takes at most 6 positional arguments (8 given)"),
        (SEVEN, {"Parallel": True}, "druvik() takes at most 6 positional arguments (7 given)"),
        (SEVEN, {"foo": 1}, "druvik() takes at most 6 positional arguments (7 given)"),
        ((), {"ObjV": X}, "druvik() takes at least 2 positional arguments (1 given)"),
        ((), {"weights": W}, "druvik() takes at least 2 positional arguments (0 given)"),
        ((X,), {"idealPoint": Z}, "druvik() takes at least 2 positional arguments (1 given)"),
        ((), {"ObjV": X, "foo": 1}, "druvik() takes at least 2 positional arguments (1 given)"),
        ((X, W), {"ObjV": X}, "druvik() got multiple values for keyword argument 'ObjV'"),
        ((X, W), {"weights": W}, "druvik() got multiple values for keyword argument 'weights'"),
        ((X,), {"weights": W, "ObjV": X}, "druvik() got multiple values for keyword argument 'ObjV'"),
        ((X, W, Z), {"idealPoint": Z}, "druvik() got multiple values for keyword argument 'idealPoint'"),
        (SEVEN[:6], {"Parallel": False}, "druvik() got multiple values for keyword argument 'Parallel'"),
        ((X, W), {"foo": 1}, "druvik() got an unexpected keyword argument 'foo'"),
        ((X, W), {"objv": X}, "druvik() got an unexpected keyword argument 'objv'"),
        ((X, W), {"parallel": True}, "druvik() got an unexpected keyword argument 'parallel'"),
        ((X, W), {"Parallel": 1, "foo": 2}, "druvik() got an unexpected keyword argument 'foo'"),
        # the first left-over keyword, in dictionary order, decides
        ((X, W), {"foo": 1, "ObjV": X}, "druvik() got an unexpected keyword argument 'foo'"),
        ((X, W), {"ObjV": X, "foo": 1}, "druvik() got multiple values for keyword argument 'ObjV'"),
        # the interpreter itself refuses a **mapping with a key that is not a string, before the call
        ((), {1: 2}, "keywords must be strings"),
        ((X, W), {"foo": 3, 1: 2}, "keywords must be strings"),
        ((X, W), {"ObjV": X, 1: 2}, "keywords must be strings"),
        # keywords made at run time match by their text
        ((X, W), {"".join(["ideal", "Point"]): Z, "".join(["f", "oo"]): 1}, "druvik() got an unexpected keyword argument 'foo'"),
        ((X, W), {"".join(["Ob", "jV"]): X}, "druvik() got multiple values for keyword argument 'ObjV'"),
    ],
)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        druvik(*args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_non_string_keyword_reaching_the_call_directly():
    import ctypes

    call = ctypes.pythonapi.PyObject_Call
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object] * 3
    with pytest.raises(TypeError, match=r"^keywords must be strings$"):
        call(druvik, (X, W), {(1, 2): 3})
    assert_same(call(druvik, (X, W), {"idealPoint": Z}), [[1.0], [1.8]])


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((X, W, Z, None, None, False), {}),
        ((), {"ObjV": X, "weights": W, "idealPoint": Z}),
        ((), {"Parallel": False, "maxormins": None, "CV": None, "idealPoint": Z, "weights": W, "ObjV": X}),
        ((X,), {"weights": W, "idealPoint": Z}),
        ((X, W), {"idealPoint": Z, "Parallel": None}),
        ((X, W, Z), {}),
        ((X, W, Z, None), {"maxormins": None}),
    ],
)
def test_binding_by_position_and_keyword(args, kwargs):
    assert_same(druvik(*args, **kwargs), [[1.0], [1.8]])


def test_defaults_by_position():
    assert_same(druvik(X, W), [1.0, 2.0])
    assert_same(druvik(X, W, None, None, None, None), [1.0, 2.0])


# ---- traceback entries --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, exception",
    [
        ((X, W, Z), {"Parallel": 1}, RuntimeError),
        ((X,), {}, TypeError),
        ((X, W), {"foo": 1}, TypeError),
        ((np.empty((0, 2)), np.empty((0, 2))), {}, ValueError),
        ((X, W, Z, [[0.0], [0.0]]), {}, AttributeError),
        ((X, W, A([1.0])), {}, RuntimeError),
    ],
)
def test_failing_call_gains_a_traceback_entry(args, kwargs, exception):
    with pytest.raises(exception) as info:
        druvik(*args, **kwargs)
    entries = traceback.extract_tb(info.value.__traceback__)
    ours = [entry for entry in entries if entry.name == "druvik.druvik"]
    assert len(ours) == 1
    assert ours[0].filename == "core/druvik.cpp"
    # directly below the caller (NumPy's own frames, if any, come after it)
    assert entries[entries.index(ours[0]) - 1].name == "test_failing_call_gains_a_traceback_entry"


# ---- the Parallel switch ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "Parallel",
    [1, 0, 1.0, 0.0, np.bool_(True), np.bool_(False), A(True), "True", "", [], [True], (), object()],
    ids=repr,
)
def test_parallel_must_be_a_bool(Parallel):
    with pytest.raises(RuntimeError) as info:
        druvik(X, W, Z, Parallel=Parallel)
    assert type(info.value) is RuntimeError
    assert info.value.args == (MESSAGES["Parallel"],)


@pytest.mark.parametrize("idealPoint", [Z, None])
def test_parallel_none_is_false(idealPoint):
    serial = druvik(X, W, idealPoint, Parallel=False)
    assert_bytes_equal(druvik(X, W, idealPoint, Parallel=None), serial)
    assert_bytes_equal(druvik(X, W, idealPoint, None, None, None), serial)
    assert_bytes_equal(druvik(X, W, idealPoint, Parallel=True), serial)


# ---- coercion of array arguments ----------------------------------------------------------------

# Integer-valued data, so that every element type below holds it exactly.
BASE = {
    "ObjV": A([[1.0, 5.0, 2.0], [3.0, 2.0, 8.0], [4.0, 4.0, 1.0]]),
    "weights": A([[1.0, 2.0, 1.0], [3.0, 1.0, 2.0], [2.0, 2.0, 2.0]]),
    "idealPoint": A([0.0, 1.0, -1.0]),
    "CV": A([[0.0, -1.0], [2.0, 0.0], [0.0, 1.0]]),
    "maxormins": A([1, -1, 2], dtype=np.int32),
}




def test_base_case():
    # product [[1, -5, 4], [3, -2, 16], [4, -4, 2]]; maxima (4, -2, 16); rows 1 and 2 violate by 2 and 1
    assert_same(druvik(**BASE), [[12.0], [38.0], [36.0]])
    assert_same(druvik(**dict(BASE, idealPoint=None)), [1.0, -5.0, 4.0])


class Sub(np.ndarray):
    pass


def strided(a):
    """The same values as `a`, as a view into a larger array with steps of 2."""
    big = np.zeros(tuple(2 * n + 1 for n in a.shape), dtype=a.dtype)
    view = big[tuple(slice(1, None, 2) for _ in a.shape)]
    view[...] = a
    return view


def reversed_view(a):
    """The same values as `a`, through negative strides."""
    flipped = a[(slice(None, None, -1),) * a.ndim].copy()
    return flipped[(slice(None, None, -1),) * a.ndim]


def read_only(a):
    a = a.copy()
    a.flags.writeable = False
    return a


FORMS = {
    "fortran": np.asfortranarray,
    "strided": strided,
    "reversed": reversed_view,
    "read-only": read_only,
    "subclass": lambda a: a.copy().view(Sub),
    "float32": lambda a: a.astype(np.float32),
    "float16": lambda a: a.astype(np.float16),
    "float64": lambda a: a.astype(np.float64),
    "big-endian-float64": lambda a: a.astype(">f8"),
    "int8": lambda a: a.astype(np.int8),
    "int32": lambda a: a.astype(np.int32),
    "int64": lambda a: a.astype(np.int64),
    "big-endian-int32": lambda a: a.astype(">i4"),
    "object": lambda a: a.astype(object),
    "fortran-float32": lambda a: np.asfortranarray(a.astype(np.float32)),
}
COERCIONS = [
    (name, form, with_ideal)
    for name in BASE
    for form in FORMS
    for with_ideal in (True, False)
    if not (form in ("fortran", "fortran-float32") and BASE[name].ndim == 1)
    and not (name == "idealPoint" and not with_ideal)
]


def snapshot(a):
    return (type(a), a.dtype, a.shape, a.strides, a.flags.writeable, a.tobytes())


@pytest.mark.parametrize(
    "name, form, with_ideal", COERCIONS, ids=[f"{n}-{f}-{'ideal' if i else 'no-ideal'}" for n, f, i in COERCIONS]
)
def test_coerced_arguments_give_the_same_bits(name, form, with_ideal):
    args = dict(BASE)
    if not with_ideal:
        args["idealPoint"] = None
    expected = druvik(**args)
    args[name] = FORMS[form](BASE[name])
    before = snapshot(args[name])
    assert_bytes_equal(druvik(**args), expected)
    assert_bytes_equal(druvik(**args, Parallel=True), expected)
    assert snapshot(args[name]) == before


def test_all_arguments_coerced_at_once():
    expected = druvik(**BASE)
    args = {
        "ObjV": np.asfortranarray(BASE["ObjV"].astype(np.float32)),
        "weights": reversed_view(BASE["weights"].astype(np.int16)),
        "idealPoint": strided(BASE["idealPoint"].astype(">f4")),
        "CV": read_only(np.asfortranarray(BASE["CV"])),
        "maxormins": strided(BASE["maxormins"].astype(np.int64)),
    }
    assert_bytes_equal(druvik(**args), expected)


def test_maxormins_is_truncated_to_int32():
    args = dict(BASE, maxormins=A([1.9, -1.5, 2.2]))
    assert_bytes_equal(druvik(**args), druvik(**BASE))


class NoCopy(np.ndarray):
    def copy(self, *args, **kwargs):
        raise AssertionError("the argument's copy() was used")


def test_working_copy_does_not_use_the_arguments_copy():
    ObjV = BASE["ObjV"].copy().view(NoCopy)
    args = dict(BASE, ObjV=ObjV, maxormins=None)
    expected = druvik(**dict(BASE, maxormins=None))
    assert_bytes_equal(druvik(**args), expected)
    assert_bytes_equal(druvik(**dict(args, idealPoint=None)), druvik(**dict(BASE, maxormins=None, idealPoint=None)))


FRESH_CALLS = {
    "plain": dict(idealPoint=BASE["idealPoint"]),
    "no-ideal": dict(idealPoint=None),
    "CV": dict(CV=BASE["CV"], idealPoint=BASE["idealPoint"]),
    "CV-no-ideal": dict(CV=BASE["CV"], idealPoint=None),
    "maxormins": dict(maxormins=BASE["maxormins"], idealPoint=BASE["idealPoint"]),
    "all": dict(BASE),
    "all-parallel": dict(BASE, Parallel=True),
    "one-row": dict(ObjV=BASE["ObjV"][:1].copy(), CV=BASE["CV"][:1].copy(), idealPoint=BASE["idealPoint"]),
    "one-row-no-ideal": dict(ObjV=BASE["ObjV"][:1].copy(), CV=BASE["CV"][:1].copy(), idealPoint=None),
    # failures after the working matrix was made
    "bad-ideal-length": dict(CV=BASE["CV"], maxormins=BASE["maxormins"], idealPoint=A([1.0])),
    "bad-ideal-kind": dict(CV=BASE["CV"], idealPoint=[1.0, 2.0, 3.0]),
    "bad-parallel": dict(BASE, Parallel=1),
    "bad-maxormins": dict(CV=BASE["CV"], maxormins=A([1, 1])),
}


@pytest.mark.parametrize("case", FRESH_CALLS)
def test_arguments_are_never_written(case):
    # already C-contiguous float64 and int32: these reach the kernels without a copy
    args = dict(ObjV=BASE["ObjV"].copy(), weights=BASE["weights"].copy())
    args.update({k: (v.copy() if isinstance(v, np.ndarray) else v) for k, v in FRESH_CALLS[case].items()})
    arrays = {k: v for k, v in args.items() if isinstance(v, np.ndarray)}
    before = {k: snapshot(v) for k, v in arrays.items()}
    try:
        result = druvik(**args)
    except RuntimeError:
        result = None
    assert {k: snapshot(v) for k, v in arrays.items()} == before
    if result is not None:
        assert result.flags.c_contiguous and result.flags.writeable
        for a in arrays.values():
            assert not np.shares_memory(result, a)


def test_read_only_arguments():
    args = {k: read_only(v) for k, v in BASE.items()}
    assert_bytes_equal(druvik(**args), druvik(**BASE))
    assert_bytes_equal(druvik(**dict(args, idealPoint=None)), druvik(**dict(BASE, idealPoint=None)))
    one = {k: read_only(v[:1]) if v.ndim == 2 and k != "weights" else read_only(v) for k, v in BASE.items()}
    assert_bytes_equal(druvik(**one), druvik(**{k: v.copy() for k, v in one.items()}))


# ---- the module global np ---------------------------------------------------------------------


def test_numpy_is_reached_through_the_module_global(monkeypatch):
    monkeypatch.delattr(druvik_module, "np")
    with pytest.raises(NameError, match=r"^name 'np' is not defined$"):
        druvik(X, W, Z)
    with pytest.raises(NameError, match=r"^name 'np' is not defined$"):
        druvik(X, W)
    monkeypatch.setattr(builtins, "np", np, raising=False)
    assert_same(druvik(X, W, Z), [[1.0], [1.8]])
    assert_same(druvik(X, W), [1.0, 2.0])


def _module_with(**attrs):
    module = types.ModuleType("numpy_stand_in")
    module.__dict__.update(attrs)
    return module


# Where a rebinding happens between two calls: the second call must use what it finds then.
REBINDINGS = {
    "the global, to an object": lambda mp, empty: mp.setattr(druvik_module, "np", types.SimpleNamespace(empty=empty)),
    "the global, to another module": lambda mp, empty: mp.setattr(
        druvik_module, "np", _module_with(empty=empty, int32=np.int32)),
    "NumPy's own attribute": lambda mp, empty: mp.setattr(np, "empty", empty),
}


@pytest.mark.parametrize("rebind", REBINDINGS)
def test_the_call_after_a_rebinding_of_np_or_np_empty_uses_it(monkeypatch, rebind):
    made, real = [], np.empty

    def empty(*args, **kwargs):
        made.append(args)
        return real(*args, **kwargs)

    assert_same(druvik(X, W, Z), [[1.0], [1.8]])
    REBINDINGS[rebind](monkeypatch, empty)
    assert_same(druvik(X, W, Z), [[1.0], [1.8]])
    assert made == [((2, 1),)]
    monkeypatch.undo()
    assert_same(druvik(X, W, Z), [[1.0], [1.8]])
    assert made == [((2, 1),)]


# ---- arguments whose attributes lie -------------------------------------------------------------

SAFETY_PRELUDE = """
import numpy as np
import evocore.core.druvik as mod
from evocore.core.druvik import druvik

def liar(base, **attrs):
    # a view of `base` whose listed attributes (values or methods) lie
    ns = {k: (v if callable(v) else property(lambda self, v=v: v)) for k, v in attrs.items()}
    return np.asarray(base).view(type("Liar", (np.ndarray,), ns))

class FakeNumpy:
    # NumPy with some functions replaced
    def __init__(self, **replaced):
        self.__dict__.update(replaced)
    def __getattr__(self, name):
        return getattr(np, name)

X = np.array([[1.0, 4.0], [3.0, 2.0]])
W = np.array([[0.5, 0.5], [0.9, 0.1]])
Z = np.array([1.0, 2.0])
RIGHT = druvik(X, W, Z)
C_TRUE = {"C_CONTIGUOUS": True}

def attempt(call, correct=None):
    try:
        result = call()
    except (ValueError, BufferError, TypeError, RuntimeError, IndexError, OverflowError) as e:
        print("OK raised", type(e).__name__, e)
    else:
        ok = correct is not None and np.asarray(result).dtype == np.asarray(correct).dtype and np.array_equal(result, correct)
        print("OK returned" if ok else "BAD returned", repr(result))
"""

LB = "lambda self, *a, **k: "
SAFETY_CASES = {
    "ObjV-ndim": "attempt(lambda: druvik(liar(np.arange(4.0), ndim=2, shape=(2, 2)), W, Z))",
    "ObjV-shape-taller": "attempt(lambda: druvik(liar(X, shape=(5000, 2)), np.ones((5000, 2)), Z))",
    "ObjV-shape-wider": "attempt(lambda: druvik(liar(X, shape=(2, 5000)), np.ones((2, 5000)), np.ones(5000)))",
    "ObjV-shape-smaller": "attempt(lambda: druvik(liar(np.ones((4, 2)), shape=(2, 2)), W, Z), druvik(np.ones((2, 2)), W, Z))",
    "ObjV-flags-reversed": """
big = np.arange(20000.0).reshape(10000, 2)
attempt(lambda: druvik(liar(big[::-1], flags=C_TRUE), np.ones((10000, 2)), np.zeros(2)),
        druvik(np.ascontiguousarray(big[::-1]), np.ones((10000, 2)), np.zeros(2)))""",
    "ObjV-dtype": "attempt(lambda: druvik(liar(X.astype(np.float32), dtype=np.dtype(float)), W, Z), RIGHT)",
    "ObjV-astype": f"attempt(lambda: druvik(liar(X.astype(np.float32), astype={LB}np.zeros((1, 1))), W, Z))",
    "weights-ndim": "attempt(lambda: druvik(X, liar(np.ones((2, 2, 1)), ndim=2), Z))",
    "weights-shape-wider": "attempt(lambda: druvik(X, liar(np.ones((2, 1)), shape=(2, 2)), Z))",
    "weights-shape-taller-one-row": "attempt(lambda: druvik(np.ones((1, 2)), liar(np.ones((1, 2)), shape=(100000, 2)), Z), np.ones((1, 1)))",
    "weights-flags-fortran": "attempt(lambda: druvik(X, liar(np.asfortranarray(W), flags=C_TRUE), Z), RIGHT)",
    "weights-dtype": "attempt(lambda: druvik(X, liar(W.astype(np.float32), dtype=np.dtype(float)), Z), druvik(X, W.astype(np.float32), Z))",
    "weights-astype": f"attempt(lambda: druvik(X, liar(W.astype(np.float32), astype={LB}np.zeros((1, 1))), Z))",
    "idealPoint-len": f"attempt(lambda: druvik(X, W, liar(np.array([1.0]), shape=(2,), __len__={LB}2)))",
    "idealPoint-dtype": "attempt(lambda: druvik(X, W, liar(Z.astype(np.float32), dtype=np.dtype(float))), RIGHT)",
    "idealPoint-astype": f"attempt(lambda: druvik(X, W, liar(Z.astype(np.float32), astype={LB}np.zeros(1))))",
    "idealPoint-flags": "attempt(lambda: druvik(X, W, liar(np.array([9.0, 1.0, 9.0, 2.0])[1::2], flags=C_TRUE)), RIGHT)",
    "maxormins-len": f"attempt(lambda: druvik(X, W, Z, maxormins=liar(np.array([1], np.int32), shape=(2,), __len__={LB}2)))",
    "maxormins-dtype": """
signs = liar(np.array([1, -1], np.int8), dtype=np.dtype(np.int32))
attempt(lambda: druvik(X, W, Z, maxormins=signs), druvik(X, W, Z, maxormins=np.array([1, -1])))""",
    "maxormins-astype": f"attempt(lambda: druvik(X, W, Z, maxormins=liar(np.array([1, -1], np.int8), astype={LB}np.ones(1, np.int32))))",
    "CV-shape": "attempt(lambda: druvik(X, W, Z, liar(np.array([[1.0]]), shape=(2, 1))))",
    "CV-shape-wide": "attempt(lambda: druvik(X, W, Z, liar(np.zeros((2, 1)), shape=(2, 100000))), RIGHT)",
    "CV-ndim": "attempt(lambda: druvik(X, W, Z, liar(np.array([1.0, 0.0]), ndim=2, shape=(2, 1))), druvik(X, W, Z, np.array([[1.0], [0.0]])))",
    "CV-flags": """
CV = np.array([[0.0, 1.0, 0.0], [0.0, 0.0, 2.0]])
attempt(lambda: druvik(X, W, Z, liar(np.asfortranarray(CV), flags=C_TRUE)), druvik(X, W, Z, CV))""",
    "CV-astype": f"attempt(lambda: druvik(X, W, Z, liar(np.ones((2, 2), np.float32), astype={LB}np.ones((1, 1)))))",
    "unaligned": """
def unaligned(a):
    a = np.asarray(a)
    raw = np.zeros(a.nbytes + 1, np.uint8)
    view = raw[1:].view(a.dtype).reshape(a.shape)
    view[...] = a
    assert not view.flags.aligned and view.flags.c_contiguous
    return view
rng = np.random.default_rng(5)
args = (rng.normal(size=(4000, 17)), rng.uniform(size=(4000, 17)), rng.normal(size=17), rng.normal(size=(4000, 5)),
        rng.choice(np.array([1, -1, 2], np.int32), 17))
for Parallel in (False, True):
    odd = [unaligned(a) for a in args]
    attempt(lambda: druvik(*odd, Parallel), druvik(*args, Parallel))
    attempt(lambda: druvik(odd[0], odd[1], None, odd[3], odd[4], Parallel), druvik(args[0], args[1], None, *args[3:], Parallel))
    attempt(lambda: druvik(odd[0][:1], odd[1], odd[2], Parallel=Parallel), druvik(args[0][:1], args[1], args[2], Parallel=Parallel))""",
    "np-empty-small": """
mod.np = FakeNumpy(empty=lambda *a, **k: np.empty((1, 1)))
attempt(lambda: druvik(np.ones((3, 2)), np.ones((3, 2)), Z))""",
    "np-empty-float32": """
mod.np = FakeNumpy(empty=lambda shape, dtype=None: np.empty(shape, np.float32))
attempt(lambda: druvik(X, W, Z), RIGHT)""",
    "np-empty-read-only": """
memory = bytes(16)
mod.np = FakeNumpy(empty=lambda *a, **k: np.frombuffer(memory).reshape(2, 1))
attempt(lambda: druvik(X, W, Z))
print("OK memory intact" if memory == bytes(16) else "BAD wrote into read-only memory")""",
    "np-empty-working-matrix": """
mod.np = FakeNumpy(empty=lambda shape, dtype=None: np.zeros((1, 1)) if len(shape) == 2 and shape[1] == 2 else np.empty(shape, dtype))
attempt(lambda: druvik(np.ones((3, 2)), np.ones((3, 2)), Z, maxormins=np.array([1, 1])))
attempt(lambda: druvik(np.ones((3, 2)), np.ones((3, 2)), Z, np.ones((3, 1))))""",
    "np-ascontiguousarray": """
mod.np = FakeNumpy(ascontiguousarray=lambda a: a)
attempt(lambda: druvik(X, np.asfortranarray(W), Z), RIGHT)
attempt(lambda: druvik(np.ones((5000, 2))[::-1], np.ones((5000, 2)), Z), druvik(np.ones((5000, 2)), np.ones((5000, 2)), Z))""",
}


@pytest.fixture(scope="module")
def safety_runs():
    """Every case in its own interpreter (a crash ends only that one), a few at a time."""

    def run(code):
        p = subprocess.run([sys.executable, "-c", SAFETY_PRELUDE + textwrap.dedent(code)], cwd=TESTS_DIR,
                           capture_output=True, text=True, timeout=120)
        return p.returncode, p.stdout, p.stderr

    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        return dict(zip(SAFETY_CASES, pool.map(run, SAFETY_CASES.values())))


@pytest.mark.parametrize("case", SAFETY_CASES)
def test_lying_arguments_are_handled_safely(safety_runs, case):
    returncode, out, err = safety_runs[case]
    assert returncode == 0, f"exit code {returncode}\n{out}\n{err}"
    assert out and "BAD" not in out, out


# ---- reference counts and memory ----------------------------------------------------------------


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def leak_cases():
    """name -> (function name, args, kwargs, expected exception or None): every module, with
    defaults and with arguments the frame converts."""
    F = np.asfortranarray(BASE["ObjV"].astype(np.float32))
    cases = {
        "druvik-valid-plain": ((X, W, Z), {}, None),
        "druvik-valid-converted": ((F, BASE["weights"].astype(int), BASE["idealPoint"].astype(int)),
                                   dict(CV=np.asfortranarray(BASE["CV"]), maxormins=BASE["maxormins"].astype(np.int64),
                                        Parallel=True), None),
        "druvik-valid-no-ideal": ((BASE["ObjV"], BASE["weights"]), dict(CV=BASE["CV"], maxormins=BASE["maxormins"]), None),
        "druvik-valid-one-row": ((BASE["ObjV"][:1].copy(), BASE["weights"], BASE["idealPoint"]), {}, None),
        "druvik-bad-weights": ((X, [[0.5, 0.5], [0.9, 0.1]], Z), {}, RuntimeError),
        "druvik-bad-ideal-late": ((F, BASE["weights"].astype(int), A([1.0, 2.0])),
                                  dict(CV=BASE["CV"], maxormins=BASE["maxormins"].astype(np.int64)), RuntimeError),
        "druvik-bad-keyword": ((X, W), dict(idealPoint=Z, foo=1), TypeError),
        "druvik-numpy-error": ((np.empty((0, 2)), np.empty((0, 2))), dict(CV=np.empty((0, 1))), ValueError),
        "druvik-bad-CV-lookup": ((X, W, Z), dict(CV=[[0.0], [1.0]]), AttributeError),
        "quelan-valid-default-theta": ((X, W, Z), {}, None),
        "quelan-valid-int-theta": ((F, BASE["weights"], BASE["idealPoint"]), dict(Theta=3, CV=BASE["CV"], Parallel=True), None),
        "quelan-valid-subclass-theta": ((X, W, Z), dict(Theta=np.float64(0.5)), None),
        "quelan-valid-bool-theta": ((X, W), dict(Theta=True), None),
        "quelan-bad-theta": ((X, W, Z), dict(Theta=np.int64(3)), RuntimeError),
        "quelan-bad-theta-sign": ((X, W, Z), dict(Theta=-2), RuntimeError),
        "ornavi-valid-plain": ((X,), {}, None),
        "ornavi-valid-converted": ((F, np.asfortranarray(BASE["CV"]), BASE["maxormins"].astype(float),
                                    BASE["idealPoint"].astype(int), True), {}, None),
        "ornavi-valid-matrix": ((np.matrix(X), None, None, Z), {}, None),
        "ornavi-bad-old": ((X, None, None, [0.0, 0.0]), {}, RuntimeError),
        "ornavi-numpy-error": ((np.empty((0, 2)),), {}, ValueError),
        "fendrik-valid-count": ((BASE["CV"],), dict(return_count=True), None),
        "fendrik-valid-converted": ((np.asfortranarray(BASE["CV"].astype(np.float32)), A([0.5, 0.5], np.float32), True,
                                     True), {}, None),
        "fendrik-bad-threshold": ((BASE["CV"], "0"), {}, RuntimeError),
        "ulvaro-valid-plain": ((BASE["ObjV"][:, :1],), dict(k=2), None),
        "ulvaro-valid-converted": ((BASE["ObjV"][:, :1].astype(int), BASE["CV"], A([-1]), np.float64(0.5)), {}, None),
        "ulvaro-bad-k": ((BASE["ObjV"][:, :1],), dict(k=np.int64(2)), RuntimeError),
        "velkor-valid": ((BASE["ObjV"], A([[4] * 3, [0] * 3, [10] * 3, [0, 1, 0], [0] * 3, [1] * 3, [0] * 3, [0, 0, 1]])),
                         {}, None),
        "velkor-bad-rows": ((BASE["ObjV"], np.ones((7, 3))), {}, RuntimeError),
        "tamsen-valid": ((5, A([[0.0, 1.0], [1.0, 9.0], [0.0, 1.0]])), dict(Parallel=True), None),
        "tamsen-bad-unpack": ((5, np.ones(3)), {}, ValueError),
        "sarnet-valid": ((A([[1, 2, 3, 4], [4, 3, 2, 1], [2, 1, 4, 3], [3, 4, 1, 2]]), 1.0), {}, None),
        "sarnet-valid-global": ((A([[1, 2, 3, 4], [4, 3, 2, 1.0]]), None, 3, True), {}, None),
        "sarnet-bad-chromosome": ((A([[1, 1], [1, 2]]),), {}, RuntimeError),
        "polvane-valid": ((BASE["ObjV"], BASE["weights"]), {}, None),
        "polvane-valid-cosine": ((F, BASE["weights"].astype(int), "cosine"), {}, None),
        "polvane-bad-metric": ((X, W, "Euclidean"), {}, RuntimeError),
        "ndsort-valid-plain": ((BASE["ObjV"],), {}, None),
        "ndsort-valid-converted": ((F, np.asfortranarray(BASE["CV"]), BASE["maxormins"].astype(np.int64), np.int64(2),
                                    True), {}, None),
        "ndsort-valid-bitsets": ((np.hstack([BASE["ObjV"], BASE["weights"]]),), dict(needNum=2), None),
        "ndsort-bad-needNum": ((X, None, None, 3), {}, RuntimeError),
        "crowding-valid": ((BASE["ObjV"], A([1.0, 1.0, 2.0])), {}, None),
        "crowding-valid-converted": ((F, A([1, 1, 1], np.int8)), {}, None),
        "crowding-bad-levels": ((X, A([1.0])), {}, RuntimeError),
        "associate-valid": ((BASE["ObjV"], BASE["weights"]), {}, None),
        "associate-valid-converted": ((F, BASE["weights"].astype(np.float32)), {}, None),
        "associate-bad-length": ((X, np.zeros((1, 2))), {}, RuntimeError),
        "build-valid": ((), {}, None),
        "build-bad-argument": ((1,), {}, TypeError),
    }
    return {name: (name.split("-")[0], *case) for name, case in cases.items()}


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
@pytest.mark.parametrize("case", list(leak_cases()))
def test_repeated_calls_do_not_leak(case):
    name, args, kwargs, exception = leak_cases()[case]
    function = getattr(evocore, name)
    watched = [o for o in (*args, *kwargs.values()) if not isinstance(o, (bool, int, type(None)))]
    shared = [None, True, False, float, np.int32, np.float64, np.ndarray, RuntimeError, TypeError]

    def run(n):
        if exception is None:
            for _ in range(n):
                function(*args, **kwargs)
        else:
            for _ in range(n):
                try:
                    function(*args, **kwargs)
                except exception:
                    pass

    run(2000)
    gc.collect()
    own = [sys.getrefcount(o) for o in watched]
    common = [sys.getrefcount(o) for o in shared]
    blocks = sys.getallocatedblocks()
    rss = resident_bytes()
    run(100_000)
    gc.collect()
    if not SANITIZED:
        assert resident_bytes() - rss < 5 * 2**20
    assert sys.getallocatedblocks() - blocks < 1000
    assert [sys.getrefcount(o) for o in watched] == own
    assert all(abs(sys.getrefcount(o) - c) < 100 for o, c in zip(shared, common))


# ---- the thread team ------------------------------------------------------------------------------


def thread_cases():
    rng = np.random.default_rng(20240607)
    rows = rng.normal(size=(40001, 3)) * 5
    rows[rng.uniform(size=rows.shape) < 0.05] = np.nan
    CV = rng.normal(size=(40001, 2))
    return {
        "rows": dict(ObjV=rows, weights=rng.uniform(size=(40001, 3)), idealPoint=rng.normal(size=3)),
        "rows-CV-maxormins": dict(ObjV=rows, weights=rng.uniform(size=(40001, 3)), idealPoint=rng.normal(size=3),
                                  CV=CV, maxormins=A([1, -1, 2], dtype=np.int32)),
        "one-row-many-weights": dict(ObjV=rng.normal(size=(1, 3)), weights=rng.uniform(size=(40000, 3)),
                                     idealPoint=rng.normal(size=3)),
        "one-row-wide": dict(ObjV=rng.normal(size=(1, 40000)), weights=rng.uniform(size=(1, 40000)),
                             idealPoint=rng.normal(size=40000)),
        "two-rows-wide": dict(ObjV=rng.normal(size=(2, 40000)), weights=rng.uniform(size=(2, 40000)),
                              idealPoint=rng.normal(size=40000)),
    }


def test_parallel_equals_serial_in_process():
    for args in thread_cases().values():
        assert_bytes_equal(druvik(**args, Parallel=True), druvik(**args, Parallel=False))


def concurrent_calls():
    """name -> a call with Parallel=True large enough to start the team, for every module that has one."""
    rng = np.random.default_rng(7)
    P, Q = rng.normal(size=(60000, 3)), rng.uniform(size=(60000, 3))
    z, CV = rng.normal(size=3), rng.normal(size=(60000, 2))
    return {
        "druvik": lambda Parallel: evocore.druvik(P, Q, z, CV, None, Parallel),
        "quelan": lambda Parallel: evocore.quelan(P, Q, z, None, np.array([1, -1, 1]), 0.5, Parallel),
        "fendrik": lambda Parallel: evocore.fendrik(CV, None, True, Parallel)[0],
        "velkor": lambda Parallel: evocore.velkor(P[:20000], np.array([[9] * 3, [-3] * 3, [3] * 3, [0, 1, 1], [0] * 3,
                                                                      [1] * 3, [1] * 3, [0, 0, 1]]), Parallel),
        "polvane": lambda Parallel: evocore.polvane(P[:300], Q[:400], "cityblock", Parallel),
        "ndsort": lambda Parallel: evocore.ndsort(np.hstack([P[:3000], Q[:3000]]), None, None, None, Parallel)[0],
        "tamsen rows": lambda Parallel: _tamsen_rows(20000, np.array([[0.0] * 5, [1.0] * 5, [0, 1] * 2 + [0]]),
                                                     Parallel, 12345, 7),
    }


@pytest.mark.parametrize("name", list(concurrent_calls()))
def test_calls_from_several_threads_at_once(name):
    call = concurrent_calls()[name]
    expected = call(False).tobytes()
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(lambda k: call(k % 2 == 0).tobytes(), range(40)))
    assert all(r == expected for r in results)


def test_one_team_per_process_started_for_large_loops_only(python):
    p = python(
        """
        import os
        import numpy as np
        import evocore
        from evocore.core._tamsen_rows import _tamsen_rows
        def threads():
            return len(os.listdir("/proc/self/task"))
        start = threads()
        evocore.druvik(np.ones((100, 3)), np.ones((100, 3)), np.zeros(3), Parallel=True)
        small = threads()
        rng = np.random.default_rng(1)
        P, Q, CV = rng.random((60000, 3)), rng.random((60000, 3)), rng.random((60000, 2)) - 0.5
        FieldDR = np.array([[0.0] * 10, [1.0] * 10, [0] * 10])
        evocore.druvik(P, Q, np.zeros(3), CV, None, True)
        evocore.quelan(P, Q, np.zeros(3), None, None, 5, True)
        evocore.fendrik(CV, None, True, True)
        evocore.velkor(P[:20000], np.array([[9] * 3, [0] * 3, [1] * 3, [0, 1, 1], [0] * 3, [1] * 3, [1] * 3,
                                            [0, 0, 1]]), True)
        evocore.tamsen(10**5, FieldDR, True)
        evocore.sarnet(np.argsort(rng.random((2000, 50)), 1).astype(np.int32), 0.7, False, True)
        evocore.polvane(P[:300], Q[:400], "cityblock", True)
        _tamsen_rows(10**5, FieldDR, True, 12345, 0)
        print(small - start, threads() - start)
        """,
        env={"OMP_NUM_THREADS": 4, "OPENBLAS_NUM_THREADS": 1},
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout.split() == ["0", "3"]  # the three workers of one team of four


@pytest.mark.parametrize(
    "value, size",
    [("3", 3), (" 2 , 1 ", 2), ("1", 1), ("0", None), ("two", None), ("2,x", None), ("", None), (None, None)],
)
def test_team_size_is_the_first_of_OMP_NUM_THREADS_else_the_usable_processors(python, value, size):
    p = python(
        """
        import os
        import numpy as np
        from evocore import druvik
        start = len(os.listdir("/proc/self/task"))
        druvik(np.ones((60000, 3)), np.ones((60000, 3)), np.zeros(3), Parallel=True)
        print(len(os.listdir("/proc/self/task")) - start)
        """,
        env={"OMP_NUM_THREADS": value, "OPENBLAS_NUM_THREADS": 1},
    )
    assert p.returncode == 0, p.stderr
    assert int(p.stdout) == (size or len(os.sched_getaffinity(0))) - 1


@pytest.mark.parametrize("parallel", [False, True])
def test_other_python_threads_run_while_a_kernel_does(parallel):
    A = np.random.default_rng(2).random((2000, 16))
    B = A.copy()
    expected = evocore.polvane(A, B).tobytes()
    started, results = threading.Event(), []

    def compute():
        started.set()
        results.append(evocore.polvane(A, B, "euclidean", parallel).tobytes())

    interval = sys.getswitchinterval()
    sys.setswitchinterval(100)  # the threads change hands only where one lets go of the lock
    try:
        # On a machine whose cores are busy this thread may not be scheduled before the kernel
        # ends; it must run during at least one of a few calls.
        for _ in range(5):
            started.clear()
            results.clear()
            worker = threading.Thread(target=compute)
            worker.start()
            started.wait()
            steps = 0
            while not results:  # this thread runs here only while the other is inside its call
                steps += 1
                time.sleep(0)
            worker.join()
            assert results == [expected]
            if steps > 0:
                break
    finally:
        sys.setswitchinterval(interval)
    assert steps > 0


@pytest.mark.parametrize("Parallel", [False, True])
def test_rows_without_columns_cost_nothing(python, Parallel):
    p = python(
        f"""
        import numpy as np
        from evocore import tamsen
        print(tamsen(2**31 - 1, np.zeros((3, 0)), {Parallel}).shape)
        """,
        timeout=60,
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout.split() == ["(2147483647,", "0)"]


# ---- out of memory ----------------------------------------------------------------------------------


def test_scratch_allocation_failure_raises_memory_error(python):
    p = python(
        """
        import resource, traceback
        import numpy as np
        from evocore.core.druvik import druvik
        N = 2**24
        ObjV, weights, z, CV = np.zeros((1, N)), np.zeros((1, N)), np.zeros(N), np.ones((1, 1))
        with open("/proc/self/statm") as f:
            mapped = int(f.read().split()[0]) * resource.getpagesize()
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        limit = mapped + N * 8 * 3 // 2   # room for the working copy, not for one more row
        if hard != resource.RLIM_INFINITY and hard < limit:
            print("SKIP")
            raise SystemExit
        resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
        try:
            druvik(ObjV, weights, z, CV)
        except MemoryError as e:
            print("MemoryError", "Unable to allocate" in str(e),
                  traceback.extract_tb(e.__traceback__)[-1].name)
        else:
            print("no error")
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(druvik(ObjV[:, :2], weights[:, :2], z[:2], CV).tolist())
        """
    )
    assert p.returncode == 0, p.stderr
    if p.stdout.startswith("SKIP"):
        pytest.skip("address-space limit cannot be raised far enough")
    # the working copy could be made; the penalty's scratch vector could not
    assert p.stdout.splitlines() == ["MemoryError False druvik.druvik", "[[0.0]]"]
