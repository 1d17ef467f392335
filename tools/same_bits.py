#!/usr/bin/env python3
"""Do two builds of evocore give the same bytes?

    python tools/same_bits.py PYTHON_A PYTHON_B     (each the interpreter of a venv with one build)

Each interpreter runs, with its own build, every benchmark case once (evocore.bench, full sizes)
and the test suite with every evocore function wrapped so that it records what each call gives:
the bytes, shape and element type of every array, the value of every other result, or the class
and text of the exception raised.  The two records must agree, test by test: the calls of a test
are compared as a multiset (a test may call from several threads), and no result may differ.
The wrapped functions are no longer built-in functions, so the tests of the functions' own form
fail in these runs; that changes nothing here, as long as both builds make the same calls.
NumPy's global generator is seeded before each test and each benchmark case, hypothesis draws
from a fixed seed and the algorithms run without a seed get a fixed one, so that the random inputs
are the same in both runs.
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
UNRECORDED = ("test_demo.py", "test_dask.py", "test_reference.py", "test_build.py")
ADDRESS = re.compile(r"0x[0-9a-fA-F]+")


def digest(value):
    import numpy as np
    h = hashlib.sha256()

    def feed(v):
        if isinstance(v, np.ndarray) and v.dtype != object:
            h.update(f"array {v.dtype.str} {v.shape} ".encode())
            h.update(np.ascontiguousarray(v).reshape(-1).view(np.uint8))
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
            try:
                raise result
            finally:
                del result  # no cycle through this frame, which the traceback holds
        return result
    return recorded


def pytest_configure(config):
    if not RECORD:
        return
    # A test that fails here (one of the functions' form) is not shrunk: its calls are recorded.
    from hypothesis import Phase, settings
    settings.register_profile("same_bits", phases=[Phase.explicit, Phase.reuse, Phase.generate], database=None)
    settings.load_profile("same_bits")
    import evocore
    for name in evocore.core.MODULES:
        module = importlib.import_module(f"evocore.core.{name}")
        wrapped = _recording(name, getattr(module, name))
        setattr(module, name, wrapped)
        if not name.startswith("_"):
            setattr(evocore, name, wrapped)
        if hasattr(module, "_seeded"):  # the random modules' calls of evocore.algorithms
            module._seeded = _recording(f"{name}._seeded", module._seeded)
    # A run of the algorithms without a seed draws one from the operating system: here it is fixed.
    import evocore.algorithms as algorithms
    algorithms.default_seed = 20240518


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
    from evocore.bench import _core as run
    mode, ctx, calls = run.Mode(False), {}, {}
    for c in run.CASES:
        ops = {need: run.operator(need) for need in c.needs}
        if None in ops.values():
            continue
        np.random.seed(20240518)
        try:
            bench = c.setup(mode, ops, ctx)
        except run.Skip:  # a peer library that is not installed
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
    """Starts the records of one build in `where`; the returned function waits for them and gives
    {"bench": {case: [...]}, "tests": {test: [...]}}."""
    bench, tests = os.path.join(where, "bench.json"), os.path.join(where, "tests.json")
    env = dict(os.environ, EVOCORE_SAME_BITS=tests, PYTHONPATH=os.path.dirname(os.path.abspath(__file__)))
    # The leak tests only repeat calls that other tests make; the files left out make their calls
    # in other processes (the command line, the Dask workers, fresh interpreters) or none.
    ignore = [f"--ignore={os.path.join(ROOT, 'tests', f)}" for f in UNRECORDED]
    suite = subprocess.Popen([python, "-m", "pytest", "-q", "--tb=no", "-p", "same_bits", "-p", "no:cacheprovider",
                              "-k", "not do_not_leak", "--hypothesis-seed=0", *ignore, os.path.join(ROOT, "tests")],
                             cwd=where, env=env, stdout=subprocess.PIPE, text=True)

    def result():
        out = suite.communicate()[0]
        print(f"{python}: {out.strip().splitlines()[-1]}")
        subprocess.run([python, os.path.abspath(__file__), "--bench", bench], check=True, cwd=where)
        with open(bench) as b, open(tests) as t:
            return {"bench": json.load(b), "tests": json.load(t)}
    return result


def compare(a, b):
    """The entries of both records that differ, the number of calls compared and the number of
    entries where one run made calls that the other did not make.  A test that only one build ran
    (an extra installed beside one of them) has nothing to compare.  A call whose result differs
    shows on both sides; a call on one side alone is an input that only one run drew (the fuzz
    tests may draw one example more or fewer), not a result that differs."""
    differ, calls, uneven = [], 0, 0
    for part in ("bench", "tests"):
        for key in sorted(set(a[part]) & set(b[part])):
            calls += len(a[part][key])
            x, y = collections.Counter(a[part][key]), collections.Counter(b[part][key])
            if x - y and y - x:
                differ.append(f"{part}: {key}: first build {sorted(x - y)[:2]}, second {sorted(y - x)[:2]}")
            elif x != y:
                uneven += 1
    return differ, calls, uneven


def main(argv):
    if argv[:1] == ["--bench"]:
        record_bench(argv[1])
        return 0
    if len(argv) != 2:
        print(__doc__)
        return 2
    # The two test runs side by side (each keeps about one processor busy), then the benchmark
    # cases one build after the other.
    with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
        records = [wait() for wait in [record(argv[0], a), record(argv[1], b)]]
    differ, calls, uneven = compare(*records)
    a, b = records
    both = {part: len(set(a[part]) & set(b[part])) for part in a}
    print(f"{both['bench']} benchmark cases and {both['tests']} tests, {calls} calls compared: "
          f"{len(differ)} differ ({uneven} with calls that only one run made)")
    for line in differ:
        print("  differs:", line)
    return 1 if differ or not calls else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
