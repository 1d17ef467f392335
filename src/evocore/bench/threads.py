"""evocore in a process with other Python threads: the worker team's size, two threads calling
at once, small calls on a free-threaded interpreter, and evocore.dask's threaded scheduler."""

import os
import sys

import numpy as np

from ._core import Bench, Skip, at_most, call, case, exactly, fmt_time
from ._shared import M, population


TEAM_THREADS = """
import os, numpy as np, evocore
from evocore.core._tamsen_rows import _tamsen_rows
tasks = lambda: len(os.listdir("/proc/self/task"))
start = tasks()
rng = np.random.default_rng(1)
P, Q, CV = rng.random((60000, 3)), rng.random((60000, 3)), rng.random((60000, 2)) - 0.5
FieldD = np.array([[9] * 3, [0] * 3, [1] * 3, [0, 1, 1], [0] * 3, [1] * 3, [1] * 3, [0, 0, 1]])
FieldDR = np.array([[0.0] * 10, [1.0] * 10, [0] * 10])
evocore.druvik(P, Q, np.zeros(3), CV, None, True)
evocore.quelan(P, Q, np.zeros(3), None, None, 5, True)
evocore.fendrik(CV, None, True, True)
evocore.velkor(P[:20000], FieldD, True)
evocore.tamsen(10**5, FieldDR, True)
evocore.sarnet(np.argsort(rng.random((2000, 50)), 1).astype(np.int32), 0.7, False, True)
evocore.polvane(P[:300], Q[:400], "cityblock", True)
_tamsen_rows(10**5, FieldDR, True, 12345, 0)
print(tasks() - start)
"""


@case("worker threads after Parallel=True of all 8 functions, OMP_NUM_THREADS=4", needs=("polvane",))
def team_threads(mode, ops, ctx):
    import subprocess
    env = dict(os.environ, OMP_NUM_THREADS="4", OPENBLAS_NUM_THREADS="1")
    p = subprocess.run([sys.executable, "-c", TEAM_THREADS], env=env, capture_output=True, text=True, timeout=300)
    if p.returncode != 0:
        raise Skip(p.stderr.strip().splitlines()[-1])
    workers = int(p.stdout)
    return Bench(None, call(len, ()), check=None, report=lambda times, ctx: {"workers": workers},
                 targets={"workers": exactly(3)})


def two_threads(make, most):
    """Two Python threads making one call each, against the same two calls one after the other
    (together/sequential below 1: the calls ran side by side)."""
    def setup(mode, ops, ctx):
        import concurrent.futures
        fn = make(mode, ops)
        pool = concurrent.futures.ThreadPoolExecutor(2)

        def together():
            first, second = pool.submit(fn), pool.submit(fn)
            first.result()
            second.result()

        def sequential():
            fn()
            fn()

        def report(times, ctx):
            return {"together/sequential": round(times["evocore"] / times["baseline"], 3)}
        return Bench(together, sequential, check=None, report=report, teardown=pool.shutdown,
                     targets={"together/sequential": at_most(most)})
    return setup


def threads_polvane(mode, ops):
    A = np.random.default_rng(4).random((mode.square, 16))
    return call(ops["polvane"], A, A.copy())


def threads_tamsen(mode, ops):
    FieldDR = np.array([[-1.0] * 10, [1.0] * 10, [0, 1] * 5])
    return call(ops["tamsen"], mode.large, FieldDR)


def threads_druvik(mode, ops):
    ObjV, w, _ = population(2 * mode.large)
    return call(ops["druvik"], ObjV, w, np.zeros(M))


case("polvane {square}x{square}x16 in two threads", needs=("polvane",))(two_threads(threads_polvane, 0.65))
case("tamsen {large}x10 in two threads", needs=("tamsen",))(two_threads(threads_tamsen, 0.65))
case("druvik {large2}x3 in two threads", needs=("druvik",))(two_threads(threads_druvik, 0.75))


@case("free-threaded: two threads x small calls (druvik {small}x3, polvane 30x30x3, ornavi {small}x3)",
      needs=("druvik", "polvane", "ornavi"))
def free_threaded_small_calls(mode, ops, ctx):
    """Calls too small to let go of the interpreter lock on a build that has one, made by two
    threads at once against one thread alone: the calls per second of two threads over one.  The
    same for small NumPy calls (np.empty, a subtraction, a column minimum) is the interpreter's and
    NumPy's own figure on this machine at this moment, the bound for ours."""
    if getattr(sys, "_is_gil_enabled", lambda: True)():
        raise Skip("needs a free-threaded interpreter running without its lock")
    import concurrent.futures
    ObjV, w, _ = population(mode.small)
    z = np.zeros(M)
    A = np.random.default_rng(5).random((30, 3))
    B = np.random.default_rng(6).random((30, 3))
    druvik, polvane, ornavi = ops["druvik"], ops["polvane"], ops["ornavi"]
    rounds = 100 if mode.quick else 1000

    # Each thread calls with arrays of its own, in local variables: a free-threaded 3.13 counts
    # the references of objects that another thread made atomically, on every load of one.
    def ours():
        d, p, o, F, W, Z, a, b = druvik, polvane, ornavi, ObjV.copy(), w.copy(), z.copy(), A.copy(), B.copy()
        for _ in range(rounds):
            d(F, W, Z)
            p(a, b)
            o(F)

    def numpys():
        e, s, m, n, F, a, b = np.empty, np.subtract, np.min, mode.small, ObjV.copy(), A.copy(), B.copy()
        for _ in range(rounds):
            e((n, 1))
            s(a, b)
            m(F, 0)

    pool = concurrent.futures.ThreadPoolExecutor(2)
    pool.submit(ours).result()  # both threads started and warm before the timing

    def two(fn):
        def run():
            first, second = pool.submit(fn), pool.submit(fn)
            first.result()
            second.result()
        return run

    def one(fn):
        return lambda: pool.submit(fn).result()

    def report(times, ctx):
        return {"calls two/one threads": round(2 * times["baseline"] / times["evocore"], 2),
                "NumPy's two/one": round(2 * times["numpy one"] / times["numpy two"], 2)}
    return Bench(two(ours), one(ours), check=None, variants={"numpy two": two(numpys), "numpy one": one(numpys)},
                 report=report, teardown=pool.shutdown, targets={"calls two/one threads": 1.7})


@case("evocore.dask polvane {chunked}x2000x16 in 8 chunks, threads vs synchronous", needs=("polvane",))
def dask_threads(mode, ops, ctx):
    try:
        import dask
        import dask.array as da
        import evocore.dask as ed
    except ImportError:
        raise Skip("Dask is not installed (the dask extra)")
    n = mode.chunked
    rng = np.random.default_rng(5)
    A = da.from_array(rng.random((n, 16)), chunks=(n // 8, 16))
    B = rng.random((2000, 16))
    result = ed.polvane(A, B)

    def computed(scheduler):
        def run():
            with dask.config.set(scheduler=scheduler):
                return result.compute()
        return run

    # compute() ends by joining the chunks into one array, in one thread: however well the chunks
    # run side by side, the ratio cannot pass sync / ((sync - join) / 2 + join).
    parts = [ops["polvane"](a, B) for a in np.split(A.compute(), 8)]

    def report(times, ctx):
        sync, join = times["baseline"], times["join the chunks"]
        return {"join the chunks": fmt_time(join), "bound": round(sync / ((sync - join) / 2 + join), 2)}
    return Bench(computed("threads"), computed("synchronous"), variants={"join the chunks": call(np.concatenate, parts)},
                 report=report, targets={"ratio": 1.6})
