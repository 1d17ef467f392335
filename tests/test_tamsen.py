"""tamsen: random real/integer populations, checked value for value against the C library's own
srand/rand (through ctypes) and NumPy's global generator."""

import ctypes
import ctypes.util
import os
import shutil
import subprocess

import numpy as np
import pytest

from _support import TESTS_DIR, assert_bytes_equal
from evocore import tamsen

LIBC = ctypes.CDLL(ctypes.util.find_library("c"))
LIBC.srand.argtypes = [ctypes.c_uint]
LIBC.srand.restype = None
LIBC.rand.restype = ctypes.c_int

TWO31 = 2**31
RAW = [0.0, float(TWO31), 0.0]  # a continuous column whose value is the draw itself


def libc_draws(seed, n):
    LIBC.srand(seed % 2**32)
    return [LIBC.rand() for _ in range(n)]


def next_rand_delta():
    """The randDelta the next call will take, leaving NumPy's state as it was."""
    state = np.random.get_state()
    delta = np.random.randint(2, 2147483647)
    np.random.set_state(state)
    return delta


def untemper(y):
    y ^= y >> 18
    y ^= (y << 15) & 0xEFC60000
    z = y
    for _ in range(5):
        z = y ^ ((z << 7) & 0x9D2C5680)
    y = z
    for _ in range(3):
        z = y ^ (z >> 11)
    return z


def aim_rand_delta(delta):
    """Sets NumPy's global generator so that the next np.random.randint(2, 2147483647) is delta."""
    key = np.random.RandomState(0).get_state()[1].copy()
    key[623] = untemper(delta - 2)
    np.random.set_state(("MT19937", key, 623, 0, 0.0))
    assert next_rand_delta() == delta


def half_away(v):
    t = np.trunc(v)
    return np.copysign(np.where(np.abs(v - t) >= 0.5, t + np.sign(v), t), v)


def expected(nind, FieldDR, parallel, delta):
    F = np.asarray(FieldDR)
    lb, ub, types = F[0].astype(float), F[1].astype(float), F[2].astype(np.int32)
    discrete = types == 1
    lb = np.where(discrete, lb - 0.499999, lb)
    ub = np.where(discrete, ub + 0.499999, ub)
    L = F.shape[1]
    if parallel:
        raw = np.array([libc_draws(delta + r, L) for r in range(nind)], dtype=np.int64).reshape(nind, L)
    else:
        raw = np.array(libc_draws(delta, nind * L), dtype=np.int64).reshape(nind, L)
    v = raw * np.abs(ub - lb) / 2.0**31 + lb
    v = np.where(discrete, half_away(v), v)
    return v if (types == 0).any() else v.astype(np.int32)


MIXED = np.array([[0.0, 1.0, -5.0, -2.5, 0.0], [10.0, 3.0, 5.0, 2.5, 1e-3], [0, 1, 0, 1, 0]])


# ---- the generator against the C library ----------------------------------------------------


@pytest.mark.parametrize("parallel", [False, True])
@pytest.mark.parametrize("delta, nind, L", [
    (2, 1500, 9),                       # the smallest seeds
    (2147483646, 2500, 9),              # 2^31 - 2 on: 2^31 - 1, 2^31 and negative words after
    (123456789, 1000, 9),
    (1000003, 3, 700),                  # rows wider than one block of draws
])
def test_draws_are_the_c_librarys(parallel, delta, nind, L):
    aim_rand_delta(delta)
    got = tamsen(nind, np.array([RAW] * L).T, parallel)
    assert_bytes_equal(got, expected(nind, np.array([RAW] * L).T, parallel, delta))


# The generator header itself, for seeds no call can reach (randDelta + r starts at 2).
SHIM = r"""
#include "random.hpp"
extern "C" void draws(unsigned seed, int n, int* out) {
    evo::CRand g(seed);
    for (int i = 0; i < n; ++i) out[i] = g.next();
}
extern "C" void draws_many(const unsigned* seeds, int count, int n, int* out) {
    const int K = evo::CRandLanes::kLanes;
    evo::CRandLanes lanes;
    int* lane_values = new int[(long)n * K];
    for (int b = 0; b < count; b += K) {
        int m = count - b < K ? count - b : K;
        lanes.seed(seeds + b, m);
        lanes.fill(lane_values, n);
        for (int k = 0; k < m; ++k)
            for (int j = 0; j < n; ++j) out[(long)(b + k) * n + j] = lane_values[j * K + k];
    }
    delete[] lane_values;
}
"""


@pytest.fixture(scope="module")
def generator(tmp_path_factory):
    frame = os.path.join(TESTS_DIR, os.pardir, "frame")
    compiler = shutil.which("c++") or shutil.which("g++")
    if compiler is None or not os.path.isfile(os.path.join(frame, "random.hpp")):
        pytest.skip("needs a C++ compiler and the source tree")
    d = tmp_path_factory.mktemp("crand")
    (d / "shim.cpp").write_text(SHIM)
    lib = d / "shim.so"
    subprocess.run([compiler, "-std=c++20", "-O2", "-shared", "-fPIC", "-I", frame, str(d / "shim.cpp"),
                    "-o", str(lib)], check=True)
    return ctypes.CDLL(str(lib))


EDGE_SEEDS = [0, 1, 2, 2**31 - 1, 2**31, 2**31 + 1, 2**32 - 2, 2**32 - 1, 127773, 16807, 2147483647 // 2]


def test_generator_header_against_the_c_library(generator):
    seeds = EDGE_SEEDS + np.random.RandomState(3).randint(0, 2**32, size=4000, dtype=np.uint64).tolist()
    n = 40
    want = np.array([libc_draws(s, n) for s in seeds], dtype=np.int32)
    one = np.empty(n, dtype=np.int32)
    for s, row in zip(seeds, want):
        generator.draws(ctypes.c_uint(s), n, one.ctypes.data_as(ctypes.c_void_p))
        assert one.tolist() == row.tolist(), s
    many = np.empty((len(seeds), n), dtype=np.int32)
    generator.draws_many(np.array(seeds, dtype=np.uint32).ctypes.data_as(ctypes.c_void_p), len(seeds), n,
                         many.ctypes.data_as(ctypes.c_void_p))
    assert_bytes_equal(many, want)


# ---- values -----------------------------------------------------------------------------------


# (seed of the one row, column whose draw is the worked one, bounds, value): draws 2^30, 0, 2^31 - 1
WORKED = [
    (1657998, 201, [0.0, 10.0, 0.0], 5.0, 2**30),
    (6364268, 323, [1.0, 3.0, 1.0], 1.0, 0),
    (2271009, 359, [1.0, 3.0, 1.0], 3.0, 2**31 - 1),
]


@pytest.mark.parametrize("seed, column, bounds, value, draw", WORKED)
def test_worked_values(seed, column, bounds, value, draw):
    assert libc_draws(seed, column + 1)[column] == draw
    F = np.array([RAW] * 400).T
    F[:, column] = bounds
    aim_rand_delta(seed)
    got = tamsen(1, F, True)
    assert got.dtype == np.float64 and got[0, column] == value
    assert got[0, column - 1] == libc_draws(seed, column)[-1]


def test_rounding_and_widening_of_discrete_columns():
    F = np.array([[1.0, -3.0, 0.2, 4.0, -1.5], [3.0, 3.0, 0.7, 4.0, -1.5], [1, 1, 1, 1, 1]])
    np.random.seed(11)
    got = tamsen(4000, F)
    assert got.dtype == np.int32
    assert [sorted(set(c)) for c in got.T.tolist()] == [[1, 2, 3], list(range(-3, 4)), [0, 1], [4], [-2, -1]]
    np.random.seed(11)
    assert_bytes_equal(got, expected(4000, F, False, next_rand_delta()))


@pytest.mark.parametrize("types, dtype", [
    ([0, 1, 0], np.float64), ([1, 1, 1], np.int32), ([2, 1, 1], np.int32), ([-1, 0, 1], np.float64),
])
def test_result_dtype(types, dtype):
    F = np.array([[0.0, 1.0, 2.5], [5.0, 9.0, 7.5], types])
    np.random.seed(4)
    got = tamsen(50, F)
    assert got.dtype == dtype and got.shape == (50, 3)
    np.random.seed(4)
    assert_bytes_equal(got, expected(50, F, False, next_rand_delta()))


@pytest.mark.parametrize("parallel", [False, True])
def test_bounds_equal_and_reversed(parallel):
    F = np.array([[2.0, 3.0, 7.0], [2.0, 3.0, 5.0], [0, 1, 0]])
    got = tamsen(300, F, parallel)
    assert (got[:, 0] == 2.0).all() and (got[:, 1] == 3.0).all()
    assert (got[:, 2] >= 7.0).all() and (got[:, 2] < 9.0).all()


@pytest.mark.parametrize("nind, expect_rows", [(True, 1), (3, 3)])
def test_zero_columns_and_true_rows(nind, expect_rows):
    got = tamsen(nind, np.empty((3, 0)))
    assert got.dtype == np.int32 and got.shape == (expect_rows, 0)


# ---- reproducibility, the generators' state and the caller's arrays ----------------------------


@pytest.mark.parametrize("parallel", [None, False, True])
@pytest.mark.parametrize("nind", [1, 7, 2000])
def test_reproducible_from_numpys_seed(parallel, nind):
    np.random.seed(nind)
    delta = next_rand_delta()
    first = tamsen(nind, MIXED, parallel)
    np.random.seed(nind)
    assert_bytes_equal(tamsen(nind, MIXED, Parallel=parallel), first)
    assert_bytes_equal(first, expected(nind, MIXED, bool(parallel), delta))


@pytest.mark.parametrize("parallel", [False, True])
def test_takes_one_numpy_draw_and_leaves_the_c_generator_alone(parallel):
    np.random.seed(9)
    np.random.randint(2, 2147483647)
    after_one = np.random.get_state()[1:3]
    LIBC.srand(77)
    want = [LIBC.rand() for _ in range(3)]
    LIBC.srand(77)
    LIBC.rand()
    np.random.seed(9)
    tamsen(2000, MIXED, parallel)
    assert [LIBC.rand() for _ in range(2)] == want[1:]
    state = np.random.get_state()[1:3]
    assert (state[0] == after_one[0]).all() and state[1] == after_one[1]


@pytest.mark.parametrize("FieldDR", [
    MIXED.copy(), np.asfortranarray(MIXED), MIXED[:, ::-1], MIXED.astype(np.float32), MIXED.astype(np.int64),
])
def test_callers_array_unchanged(FieldDR):
    before = FieldDR.copy()
    flags = (FieldDR.flags.c_contiguous, FieldDR.flags.f_contiguous)
    np.random.seed(1)
    got = tamsen(10, FieldDR)
    assert_bytes_equal(FieldDR, before)
    assert (FieldDR.flags.c_contiguous, FieldDR.flags.f_contiguous) == flags
    np.random.seed(1)
    assert_bytes_equal(got, expected(10, FieldDR, False, next_rand_delta()))


# ---- errors, in their order -------------------------------------------------------------------


MSG = {
    "Parallel": "error in tamsen: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "Nind": "error in tamsen: Nind must be an integer > 0. (种群规模Nind必须为一个大于0的整数。)",
    "rows": "error in tamsen: FieldDR must be a matrix with 3 rows. (译码矩阵FieldDR必须是3行的Numpy ndarray类型矩阵。)",
}
F1 = np.zeros(4)


@pytest.mark.parametrize("args, kwargs, exc, text", [
    ((0, F1), {"Parallel": 1}, RuntimeError, MSG["Parallel"]),
    ((0, F1, np.bool_(True)), {}, RuntimeError, MSG["Parallel"]),
    ((0, F1, "True"), {}, RuntimeError, MSG["Parallel"]),
    ((0, F1), {}, ValueError, "need more than 1 value to unpack"),
    ((0, np.array(1.0)), {}, ValueError, "need more than 0 values to unpack"),
    ((0, np.zeros((3, 2, 2))), {}, ValueError, "too many values to unpack (expected 2)"),
    ((0, [[0.0], [1.0], [0]]), {}, AttributeError, None),
    ((5.0, np.zeros((2, 2))), {}, RuntimeError, MSG["Nind"]),
    ((np.int64(5), np.zeros((2, 2))), {}, RuntimeError, MSG["Nind"]),
    ((0, np.zeros((2, 2))), {}, RuntimeError, MSG["Nind"]),
    ((-3, np.zeros((2, 2))), {}, RuntimeError, MSG["Nind"]),
    ((False, np.zeros((2, 2))), {}, RuntimeError, MSG["Nind"]),
    (("5", MIXED), {}, RuntimeError, MSG["Nind"]),
    ((5, np.zeros((2, 2))), {}, RuntimeError, MSG["rows"]),
    ((5, np.zeros((4, 2))), {}, RuntimeError, MSG["rows"]),
    ((), {"Nind": 5, "FieldDR": np.zeros((0, 3)), "Parallel": None}, RuntimeError, MSG["rows"]),
])
def test_early_errors_take_no_draw(args, kwargs, exc, text):
    np.random.seed(3)
    state = np.random.get_state()
    with pytest.raises(exc) as info:
        tamsen(*args, **kwargs)
    if text is not None:
        assert info.value.args == (text,)
    after = np.random.get_state()
    assert (after[1] == state[1]).all() and after[2] == state[2]


def test_a_later_failure_has_taken_the_draw():
    np.random.seed(3)
    np.random.randint(2, 2147483647)
    want = np.random.get_state()[2]
    np.random.seed(3)
    with pytest.raises(ValueError):
        tamsen(2, np.array([["a"], ["b"], ["c"]]))
    assert np.random.get_state()[2] == want


def test_counts_too_large_for_the_kernel():
    with pytest.raises(OverflowError, match="value too large to convert to int"):
        tamsen(2**31, np.empty((3, 0)))
