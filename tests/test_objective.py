"""The objective-matrix passes shared by druvik, quelan and ornavi: the ideal point by its rule,
the feasibility rule and the objective product, np.matrix and unaligned inputs."""

import os
import subprocess
import sys

import numpy as np
import pytest

from _support import assert_bytes_equal
import evocore
from evocore import druvik, ornavi, quelan

# Values that make ties between +0.0 and -0.0 and NaNs frequent.
TRICKY = np.array([0.0, -0.0, np.nan, np.inf, -np.inf, 1.0, -1.0, 0.5])


def tricky(rows, cols, seed, weights=None):
    rng = np.random.default_rng(seed)
    return rng.choice(TRICKY, size=(rows, cols), p=weights)


def placed(rows, cols, where, value):
    """A column of zeros of alternating sign with `value` at the given rows (block edges included)."""
    X = np.where(np.arange(rows * cols).reshape(rows, cols) % 2, -0.0, 0.0)
    for r in where:
        X[r % rows] = value
    return X


def column_fold(X, maximum=False):
    """The ideal point's rule, row by row: a NaN stays, a NaN enters, and of equal values (+0.0
    and -0.0) the later row's is kept."""
    acc = X[0].copy()
    for row in X[1:]:
        keep = (acc > row if maximum else acc < row) | np.isnan(acc)
        acc = np.where(keep, acc, row)
    return acc


ZEROS = [0.4, 0.4, 0.0, 0.0, 0.0, 0.1, 0.05, 0.05]  # weights of TRICKY: mostly signed zeros
SHAPES = [(1, 1), (1, 5), (2, 3), (15, 2), (16, 3), (17, 1), (64, 7), (101, 8), (203, 9), (1000, 17)]
MATRICES = [pytest.param(tricky(r, c, seed=r * 31 + c), id=f"tricky-{r}x{c}") for r, c in SHAPES] + [
    pytest.param(tricky(997, 3, 5, ZEROS), id="signed-zeros"),
    pytest.param(tricky(997, 1, 6, ZEROS), id="signed-zeros-one-column"),
    pytest.param(np.array([[-0.0], [0.0], [1.08], [0.008], [0.5]]), id="zeros-one-column"),
    pytest.param(placed(100, 3, [0], np.nan), id="nan-first"),
    pytest.param(placed(100, 3, [99], np.nan), id="nan-last"),
    pytest.param(placed(100, 3, [25, 50, 75], np.nan), id="nan-block-edges"),
    pytest.param(placed(100, 3, [26, 51], -0.0), id="minus-zero-block-edges"),
    pytest.param(placed(64, 2, [16, 48], np.inf), id="inf"),
    pytest.param(placed(64, 2, [0, 63], -np.inf), id="minus-inf"),
]


@pytest.mark.parametrize("X", MATRICES)
def test_ideal_point_follows_its_rule_on_every_processor(X):
    low, high = column_fold(X), column_fold(X, maximum=True)
    if X.shape[1] > 1:  # NumPy takes the rows in order; a single column it reduces in lanes
        assert_bytes_equal(low, np.min(X, 0))
        assert_bytes_equal(high, np.max(X, 0))
    old = np.full(X.shape[1], np.inf)
    assert_bytes_equal(ornavi(X), low)
    assert_bytes_equal(ornavi(X, reverse=True), high)
    assert_bytes_equal(druvik(X, np.ones_like(X)), low)
    assert_bytes_equal(quelan(X, np.ones_like(X)), low)
    if len(X) > 1:  # one row merges the row itself
        assert_bytes_equal(ornavi(X, None, None, old), np.where(old <= low, old, low))
        assert_bytes_equal(ornavi(X, None, None, -old, True), np.where(high <= -old, -old, high))


def penalised(ObjV, CV):
    """The feasibility rule as a plain loop: maxima by strictly greater values from row 0."""
    R = ObjV.copy()
    top = ObjV[0].copy()
    for row in ObjV[1:]:
        top = np.where(row > top, row, top)
    for i, violations in enumerate(CV):
        s = 0.0
        for v in violations:
            if v > 0:
                s += v
        if s > 0:
            R[i] = top + s
    return R


@pytest.mark.parametrize("rows", [1, 3, 16, 17, 100, 1003])
@pytest.mark.parametrize("signs", [None, np.array([1, -1, 2])], ids=["CV", "CV+maxormins"])
def test_feasibility_rule_matches_the_plain_loop(rows, signs):
    rng = np.random.default_rng(rows)
    ObjV = tricky(rows, 3, rows)
    ObjV[rng.integers(0, rows, 3)] = np.nan  # NaNs at arbitrary rows, block starts included
    CV = rng.choice(np.array([0.0, -0.0, -1.0, 0.25, 2.0, np.nan, np.inf]), size=(rows, 3))
    working = ObjV * signs if signs is not None else ObjV
    expected = penalised(working, CV)
    assert_bytes_equal(ornavi(ObjV, CV, signs), np.min(expected, 0))
    z = np.zeros(3)
    assert_bytes_equal(druvik(ObjV, np.ones((rows, 3)), z, CV, signs), druvik(expected, np.ones((rows, 3)), z))


@pytest.mark.parametrize("cols", [1, 3, 16, 17, 40])
def test_objective_product_is_elementwise(cols):
    rng = np.random.default_rng(cols)
    ObjV = rng.normal(size=(37, cols))
    signs = rng.integers(-3, 4, cols)
    assert_bytes_equal(ornavi(ObjV, None, signs, reverse=True), column_fold(ObjV * signs, maximum=True))


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_np_matrix_objectives():
    X = np.array([[1.0, 5.0, -0.0], [2.0, 3.0, 0.0], [0.5, 4.0, 0.0]])
    M, W, z, old = np.matrix(X), np.ones((3, 3)), np.zeros(3), np.array([1.0, 1.0, 1.0])
    assert_bytes_equal(ornavi(M, None, None, old), ornavi(X, None, None, old))
    assert_bytes_equal(ornavi(M[:1], None, None, old), ornavi(X[:1], None, None, old))
    assert_bytes_equal(np.asarray(ornavi(M)).ravel(), ornavi(X))
    for f in (druvik, quelan):
        assert_bytes_equal(f(M, W, z), f(X, W, z))
        assert_bytes_equal(np.asarray(f(M, W)).ravel(), f(X, W))
        assert_bytes_equal(f(M, W, z, np.matrix(np.ones((3, 1))), np.array([1, -1, 1])),
                           f(X, W, z, np.ones((3, 1)), np.array([1, -1, 1])))
    column, CV = np.matrix(X[:, :1]), np.array([[0.0], [0.5], [0.0]])
    assert_bytes_equal(evocore.ulvaro(column, None, None, 2), evocore.ulvaro(X[:, :1], None, None, 2))
    assert_bytes_equal(evocore.ulvaro(column, CV, None, 2), evocore.ulvaro(X[:, :1], CV, None, 2))


def unaligned(a):
    raw = np.zeros(a.nbytes + 1, np.uint8)
    view = raw[1:].view(a.dtype).reshape(a.shape)
    view[...] = a
    assert not view.flags.aligned and view.flags.c_contiguous
    return view


@pytest.mark.parametrize("rows", [1, 50, 20000])
def test_unaligned_arguments(rows):
    rng = np.random.default_rng(rows)
    args = [rng.normal(size=(rows, 3)), rng.uniform(size=(rows, 3)), rng.normal(size=3),
            rng.normal(size=(rows, 2)), np.array([1, -1, 2], np.int32)]
    odd = [unaligned(a) for a in args]
    for f in (druvik, quelan):
        for Parallel in (False, True):
            assert_bytes_equal(f(*odd[:5], Parallel=Parallel), f(*args[:5], Parallel=Parallel))
        assert_bytes_equal(f(odd[0], odd[1]), f(args[0], args[1]))
    assert_bytes_equal(ornavi(odd[0], odd[3], odd[4], odd[2]), ornavi(args[0], args[3], args[4], args[2]))
    assert_bytes_equal(ornavi(odd[0]), ornavi(args[0]))


FORK = """
import multiprocessing, os
import numpy as np
from evocore import druvik
rng = np.random.default_rng(1)
P, W = rng.random((200000, 3)), rng.random((200000, 3))
z = P.min(0)
expected = druvik(P, W, z)

def work(_):
    return druvik(P, W, z, Parallel=True).tobytes() == expected.tobytes()

if __name__ == "__main__":
    print("parent", work(0))    # starts the thread team before the fork
    if {how!r} in ("fork", "fork-busy"):
        if {how!r} == "fork-busy":   # another thread keeps the team busy across the fork
            import threading
            busy = threading.Thread(target=lambda: [work(0) for _ in range(30)])
            busy.start()
        pid = os.fork()
        if pid == 0:
            os._exit(0 if work(0) else 3)
        print("child", os.waitpid(pid, 0)[1] == 0)
        if {how!r} == "fork-busy":
            busy.join()
    else:
        with multiprocessing.get_context({how!r}).Pool(2) as pool:
            print("child", all(pool.map(work, range(4))))
    print("parent", work(0))
"""


@pytest.mark.parametrize("how", ["fork", "fork-busy", "pool-fork", "pool-spawn"])
def test_parallel_after_fork_does_not_hang(tmp_path, how):
    script = tmp_path / "fork_case.py"  # spawn re-imports the main module from its file
    script.write_text(FORK.format(how=how.replace("pool-", "")))
    p = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=60,
                       env=dict(os.environ, OMP_NUM_THREADS="2"))
    assert p.returncode == 0, p.stderr
    assert p.stdout.split() == ["parent", "True", "child", "True", "parent", "True"]
