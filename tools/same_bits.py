#!/usr/bin/env python3
"""Do two builds of evocore give the same bytes?

    python tools/same_bits.py PYTHON_A PYTHON_B     (each the interpreter of a venv with one build)

Each interpreter runs, with its own build, every benchmark case once (bench/run.py, full sizes)
and the test suite with every evocore function wrapped so that it records what each call gives:
the bytes, shape and element type of every array, the value of every other result, or the class
and text of the exception raised.  The two records must be equal, test by test (the calls a test
makes from several threads are compared as a multiset).  The wrapped functions are no longer
built-in functions, so the tests of the functions' own form fail in these runs; that changes
nothing here, as long as both builds make the same calls.  NumPy's global generator is seeded
before each test and each benchmark case, and hypothesis draws from a fixed seed, so that every
random input is the same in both runs.
"""

import collections
import hashlib
import importlib
import json
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FUNCTIONS = ("druvik", "quelan", "ornavi", "fendrik", "ulvaro", "velkor", "tamsen", "sarnet", "polvane",
             "build", "_tamsen_rows", "_forms")
ADDRESS = re.compile(r"0x[0-9a-fA-F]+")


def digest(value):
    import numpy as np
    h = hashlib.sha256()

    def feed(v):
        if isinstance(v, np.ndarray) and v.dtype != object:
            h.update(f"array {v.dtype.str} {v.shape} ".encode())
            h.update(memoryview(np.ascontiguousarray(v)).cast("B"))
        elif isinstance(v, (tuple, list)):
            h.update(f"{type(v).__name__} {len(v)} ".encode())
            for item in v:
                feed(item)
        elif isinstance(v, float):
            h.update(f"float {v.hex()} ".encode())
        else:
            h.update(ADDRESS.sub("0x", f"{type(v).__name__} {v!r} ").encode())

    feed(value)
    return h.hexdigest()[:32]


def outcome(f, args, kwargs):
    """(what the call gave, its record): the result, or the exception, which is raised again."""
    try:
        result = f(*args, **kwargs)
    except BaseException as e:  # the failure is the outcome to compare
        return e, ADDRESS.sub("0x", f"raised {type(e).__name__}: {e}")
    return result, digest(result)


# ---- the test suite's calls: a pytest plugin (-p same_bits) ----------------------------------

RECORD = os.environ.get("EVOCORE_SAME_BITS")
_calls = collections.defaultdict(list)
_test = ["(collection)"]


def _recording(name, f):
    def recorded(*args, **kwargs):
        result, text = outcome(f, args, kwargs)
        _calls[_test[0]].append(f"{name} {text}")
        if isinstance(result, BaseException):
            raise result
        return result
    return recorded


def pytest_configure(config):
    if not RECORD:
        return
    import evocore
    for name in FUNCTIONS:
        module = importlib.import_module(f"evocore.core.{name}")
        wrapped = _recording(name, getattr(module, name))
        setattr(module, name, wrapped)
        if not name.startswith("_"):
            setattr(evocore, name, wrapped)


def pytest_runtest_setup(item):
    if RECORD:
        import numpy as np
        np.random.seed(20240518)
        _test[0] = item.nodeid


def pytest_unconfigure(config):
    if RECORD:
        with open(RECORD, "w") as f:
            json.dump(_calls, f)


# ---- the benchmark's calls -------------------------------------------------------------------

def record_bench(path):
    import numpy as np
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import run
    mode, ctx, calls = run.Mode(False), {}, {}
    for c in run.CASES:
        ops = {need: run.operator(need) for need in c.needs}
        if None in ops.values():
            continue
        np.random.seed(20240518)
        try:
            bench = c.setup(mode, ops, ctx)
        except (run.Skip, ImportError):  # a peer library that is not installed
            continue
        try:
            if bench.evocore is not None:
                calls[c.label(mode)] = [outcome(bench.evocore, (), {})[1]]
        finally:
            if bench.teardown is not None:
                bench.teardown()
    with open(path, "w") as f:
        json.dump(calls, f)


# ---- the comparison ------------------------------------------------------------------------------

def record(python, where):
    """The records of one build: {"bench": {case: [...]}, "tests": {test: [...]}}."""
    bench, tests = os.path.join(where, "bench.json"), os.path.join(where, "tests.json")
    subprocess.run([python, os.path.abspath(__file__), "--bench", bench], check=True, cwd=where)
    env = dict(os.environ, EVOCORE_SAME_BITS=tests, PYTHONPATH=os.path.dirname(os.path.abspath(__file__)))
    # The leak tests only repeat calls that other tests make.
    run = subprocess.run([python, "-m", "pytest", "-q", "--tb=no", "-p", "same_bits", "-p", "no:cacheprovider",
                          "-k", "not do_not_leak", "--hypothesis-seed=0", os.path.join(ROOT, "tests")],
                         cwd=where, env=env, capture_output=True, text=True)
    print(f"{python}: {run.stdout.strip().splitlines()[-1]}")
    with open(bench) as b, open(tests) as t:
        return {"bench": json.load(b), "tests": json.load(t)}


def compare(a, b):
    """The entries of both records that differ, and the number of calls compared.  A test that
    only one build ran (an extra installed beside one of them) has nothing to compare."""
    differ, calls = [], 0
    for part in ("bench", "tests"):
        for key in sorted(set(a[part]) & set(b[part])):
            calls += len(a[part][key])
            if collections.Counter(a[part][key]) != collections.Counter(b[part][key]):
                differ.append(f"{part}: {key}")
    return differ, calls


def main(argv):
    if argv[:1] == ["--bench"]:
        record_bench(argv[1])
        return 0
    if len(argv) != 2:
        print(__doc__)
        return 2
    records = []
    for python in argv:
        with tempfile.TemporaryDirectory() as where:
            records.append(record(python, where))
    differ, calls = compare(*records)
    a, b = records
    both = {part: len(set(a[part]) & set(b[part])) for part in a}
    print(f"{both['bench']} benchmark cases and {both['tests']} tests, {calls} calls compared: "
          f"{len(differ)} differ")
    for line in differ:
        print("  differs:", line)
    return 1 if differ or not calls else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
