"""Calls under threads: every operator from several threads at once (on a free-threaded
interpreter they run side by side without any interpreter lock, so every piece of state that calls
share is exercised), arrays written by another thread while a kernel reads them, an interpreter
that exits while a daemon thread is inside a kernel, and the same bytes from a team of any size."""

import concurrent.futures
import threading

import numpy as np
import pytest

import evocore
from _support import assert_bytes_equal, run_python

rng = np.random.default_rng(2024)
SMALL = rng.normal(size=(100, 3))
LARGE = rng.normal(size=(30000, 3))
WEIGHTS = rng.uniform(size=(30000, 3))
CV = rng.normal(size=(30000, 2))
FIELDD = np.array([[9] * 3, [-3] * 3, [3] * 3, [0, 1, 1], [0] * 3, [1] * 3, [1] * 3, [0, 0, 1]])
FIELDDR = np.array([[-1.0] * 5, [1.0] * 5, [0, 1, 0, 1, 0]])
CHROM = np.argsort(rng.random((400, 40)), axis=1).astype(np.int32)
MAXORMINS = np.array([1, -1, 1])

# name -> (call(Parallel), takes Parallel); sizes below and above the point where a call lets go
# of the interpreter lock.  tamsen and sarnet draw from np.random, which the test fixes.
CALLS = {
    "druvik small": (lambda P: evocore.druvik(SMALL, WEIGHTS[:100], np.zeros(3), None, None, P), True),
    "druvik large": (lambda P: evocore.druvik(LARGE, WEIGHTS, np.zeros(3), CV, MAXORMINS, P), True),
    "quelan small": (lambda P: evocore.quelan(SMALL, WEIGHTS[:100], None, CV[:100], None, 2.0, P), True),
    "quelan large": (lambda P: evocore.quelan(LARGE, WEIGHTS, np.zeros(3), None, MAXORMINS, 5, P), True),
    "ornavi small": (lambda P: evocore.ornavi(SMALL, CV[:100], MAXORMINS, np.zeros(3)), False),
    "ornavi large": (lambda P: evocore.ornavi(LARGE, None, None, None, True), False),
    "fendrik": (lambda P: evocore.fendrik(CV, 0.5, True, P), True),
    "ulvaro": (lambda P: evocore.ulvaro(LARGE[:, :1], CV, None, 2), False),
    "velkor": (lambda P: evocore.velkor(LARGE[:5000], FIELDD, P), True),
    "tamsen small": (lambda P: evocore.tamsen(50, FIELDDR, P), True),
    "tamsen large": (lambda P: evocore.tamsen(20000, FIELDDR, P), True),
    "sarnet": (lambda P: evocore.sarnet(CHROM, 0.7, False, P), True),
    "sarnet one row": (lambda P: evocore.sarnet(CHROM[:1], 0.7, True, P), True),
    "polvane small": (lambda P: evocore.polvane(SMALL[:30], SMALL[30:60], "euclidean", P), True),
    "polvane large": (lambda P: evocore.polvane(LARGE[:300], LARGE[:400], "cosine", P), True),
}
THREADS, ROUNDS = 8, 12


def as_arrays(result):
    """The arrays of a result, of its tuples and lists in order."""
    if isinstance(result, (tuple, list)):
        return [a for item in result for a in as_arrays(item)]
    return [np.asarray(result)]


@pytest.mark.parametrize("name, Parallel", [(n, p) for n, (_, takes) in CALLS.items() for p in (False, True)[:1 + takes]])
def test_operators_from_eight_threads_equal_the_serial_call(monkeypatch, name, Parallel):
    monkeypatch.setattr(np.random, "randint", lambda low, high: 987654321)
    call = CALLS[name][0]
    expected = as_arrays(call(Parallel))  # the same call, made alone
    start = threading.Barrier(THREADS)
    results, errors = [], []

    def run():
        try:
            start.wait()
            for _ in range(ROUNDS):
                results.append(call(Parallel))
        except BaseException as e:  # noqa: B036 - reported below, on the test's thread
            errors.append(e)

    threads = [threading.Thread(target=run) for _ in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors
    assert len(results) == THREADS * ROUNDS
    for result in results:
        for got, want in zip(as_arrays(result), expected, strict=True):
            assert_bytes_equal(got, want)


# Calls large enough to run without the interpreter lock.  `arrays` are the arguments another
# thread scribbles on while the calls run.
WRITTEN = {
    "druvik": "F, W = r.random((3000, 8)), r.random((3000, 8)); CV = r.random((3000, 2)) - 0.5; "
              "s = np.ones(8, np.int32); arrays = [F, W, CV, s]; call = lambda P: ev.druvik(F, W, None, CV, s, P)",
    "quelan": "F, W, z = r.random((3000, 8)), r.random((3000, 8)), np.zeros(8); "
              "arrays = [F, W, z]; call = lambda P: ev.quelan(F, W, z, Parallel=P)",
    "ornavi": "F, CV = r.random((9000, 4)), r.random((9000, 2)) - 0.5; s = np.ones(4, np.int32); "
              "arrays = [F, CV, s]; call = lambda P: ev.ornavi(F, CV, s, F[0].copy())",
    "fendrik": "CV, t = r.random((6000, 8)) - 0.5, np.zeros(8); arrays = [CV, t]; "
               "call = lambda P: ev.fendrik(CV, t, True, P)",
    "ulvaro": "F, CV = r.random((20000, 1)), r.random((20000, 2)) - 0.5; arrays = [F, CV]; "
              "call = lambda P: ev.ulvaro(F, CV, None, 2)",
    "velkor": "Phen = r.random((3000, 10)); FieldD = np.array([[20] * 10, [0] * 10, [1] * 10, [1] * 10, "
              "[0] * 10, [1] * 10, [1] * 10, [0] * 10], dtype=np.int32); arrays = [Phen, FieldD]; "
              "call = lambda P: ev.velkor(Phen, FieldD, P)",
    "tamsen": "FieldDR = np.array([[0.0] * 20, [9.0] * 20, [0, 1] * 10]); arrays = [FieldDR]; "
              "call = lambda P: ev.tamsen(2000, FieldDR, P)",
    "sarnet": "C = np.array([r.permutation(200) for _ in range(3000)], dtype=np.int32); arrays = [C]; "
              "call = lambda P: (ev.sarnet(C, 1.0, False, P), ev.sarnet(C, 1.0, True, P), ev.sarnet(C, 1.0, 2999, P))",
    "polvane": "A, B = r.random((300, 30)), r.random((300, 30)); arrays = [A, B]; "
               "call = lambda P: [ev.polvane(A, B, m, P) for m in ('euclidean', 'cityblock', 'cosine', 'cosine_similarity')]",
    # the bitsets (5 objectives), the staircases (3) and the sweep (2) with constraints and needNum
    "ndsort": "F = np.abs(r.normal(size=(6000, 5))); F /= np.sqrt((F * F).sum(1))[:, None]; "
              "CV = r.random((6000, 2)) - 0.9; arrays = [F, CV]; "
              "call = lambda P: (ev.ndsort(F, None, None, None, P), ev.ndsort(F[:, :3], Parallel=P), "
              "ev.ndsort(F[:, :2], CV, None, 1000, P))",
    "crowding": "F, L = r.random((6000, 3)), r.integers(1, 4, 6000).astype(float); arrays = [F, L]; "
                "call = lambda P: ev.crowding(F, L)",
    "associate": "F, R = r.random((6000, 3)), r.random((91, 3)) + 0.01; arrays = [F, R]; "
                 "call = lambda P: ev.associate(F, R)",
}

PROBE = """
import threading, time
import numpy as np
import evocore as ev
r = np.random.default_rng(1)
{setup}
kept = [a.copy() for a in arrays]
junk = dict(f=[np.nan, np.inf, -1e308, 2.0**30], i=[2**30, -2**31, 7, -1])
stop = False

def scribble():
    k = 0
    while not stop:
        k += 1
        a, good = arrays[k % len(arrays)], kept[k % len(arrays)]
        row = (k * 7919) % len(a)
        a[row] = junk[a.dtype.kind][k % 4]
        a[row] = good[row]

writer = threading.Thread(target=scribble)
writer.start()
try:
    for P in (False, True):
        end = time.perf_counter() + {seconds}
        while time.perf_counter() < end:
            try:
                call(P)
            except (RuntimeError, ValueError, OverflowError, MemoryError):
                pass  # what the checks make of a half-written input
finally:
    stop = True
    writer.join()
print("survived")
"""


@pytest.mark.parametrize("name", WRITTEN)
def test_an_input_written_during_a_call_never_breaks_memory(name):
    done = run_python(PROBE.format(setup=WRITTEN[name], seconds=0.4), timeout=300)
    assert done.returncode == 0 and done.stdout.strip() == "survived", (done.returncode, done.stderr[-2000:])


EXIT = """
import sys, threading, time
import numpy as np
import evocore as ev
A = np.random.default_rng(0).random((500, 40))
threading.Thread(target=lambda: [ev.polvane(A, A, Parallel={parallel}) for _ in range(10**6)], daemon=True).start()
time.sleep(0.2)
"""


@pytest.mark.parametrize("parallel", [False, True])
def test_exit_while_a_daemon_thread_is_inside_a_kernel(parallel):
    # CPython ends such a thread when it asks for the lock back during finalisation
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        codes = [p.returncode for p in pool.map(run_python, [EXIT.format(parallel=parallel)] * 10)]
    assert codes == [0] * 10


# ---- the team's size --------------------------------------------------------------------------

# name -> code that defines call(Parallel): loops large enough to wake the team, some of them with
# fewer rows than it has threads.  tamsen and sarnet draw from np.random, which the code seeds.
TEAM = {
    "druvik": "from test_frame import thread_cases; "
              "call = lambda P: [ev.druvik(**args, Parallel=P) for args in thread_cases().values()]",
    "quelan": "F, W, z = r.normal(size=(40001, 3)), r.uniform(size=(40001, 3)), r.normal(size=3); "
              "call = lambda P: ev.quelan(F, W, z, None, np.array([1, -1, 1]), 0.5, P)",
    "fendrik": "T = [np.linspace(-1, 1, n) for n in (40000, 50000, 10000, 3)]; "
               "CV = [r.normal(size=s) for s in ((2, 40000), (1, 50000), (4, 10000), (40001, 3))]; "
               "call = lambda P: [ev.fendrik(c, t, True, P) for c, u in zip(CV, T) for t in (None, u)]",
    "velkor": "from test_velkor import random_case; Phen, F = random_case(5001, seed=5, wild=True); "
              "call = lambda P: ev.velkor(Phen, F, P)",
    "tamsen": "F = np.array([[0.0, 1.0, -5.0, -2.5, 0.0], [10.0, 3.0, 5.0, 2.5, 1e-3], [0, 1, 0, 1, 0]]); "
              "call = lambda P: (np.random.seed(2024), ev.tamsen(3001, F, P))[1]",
    "sarnet": "from test_sarnet import permutations; C = permutations(401, 120, 7); "
              "call = lambda P: [(np.random.seed(11), ev.sarnet(C, 0.8, h, P))[1] for h in (False, True, 3)]",
    # (cosine's product is NumPy's matmul, whose bits follow the BLAS's own threads, which the
    # same variable sets)
    "polvane": "A, B = r.normal(size=(300, 40)), r.normal(size=(400, 40)); "
               "call = lambda P: [ev.polvane(A, B, m, P) for m in ('euclidean', 'cityblock')]",
    "ndsort": "from test_dominance import sphere; X = np.concatenate([r.random((4000, 6)), sphere(2000, 6)]); "
              "call = lambda P: ev.ndsort(X, Parallel=P)",
}


def team_results(name):
    """The arrays that TEAM[name]'s call returns with Parallel=True, in order."""
    space = {"np": np, "ev": evocore, "r": np.random.default_rng(1)}
    exec(TEAM[name], space)
    return as_arrays(space["call"](True))


@pytest.fixture(scope="module")
def team_runs(tmp_path_factory):
    """A folder per team size (1, 2, 3) with the results of TEAM's calls there."""
    folders = {}
    for size in (1, 2, 3):
        folders[size] = tmp_path_factory.mktemp(f"team{size}")
        done = run_python(f"""
            import numpy as np
            from test_threads import TEAM, team_results
            for name in TEAM:
                np.savez({str(folders[size])!r} + "/" + name, *team_results(name))
            """, env={"OMP_NUM_THREADS": size})
        assert done.returncode == 0, done.stderr
    return folders


@pytest.mark.parametrize("name", TEAM)
def test_parallel_result_does_not_depend_on_the_team_size(team_runs, name):
    expected = team_results(name)
    for size, folder in team_runs.items():
        with np.load(folder / f"{name}.npz") as saved:
            got = [saved[f"arr_{k}"] for k in range(len(saved.files))]
        assert len(got) == len(expected), size
        for a, b in zip(got, expected):
            assert_bytes_equal(a, b)
