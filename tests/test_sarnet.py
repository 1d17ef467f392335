"""sarnet: order crossover of permutation chromosomes, in its pairwise and global modes."""

import ctypes

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from _support import SANITIZED, assert_bytes_equal
from evocore.core.sarnet import sarnet

A = np.array
libc = ctypes.CDLL(None)
libc.rand.restype = ctypes.c_int
libc.srand.argtypes = [ctypes.c_uint]

MESSAGES = {
    "Parallel": "error in sarnet: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "Chromosome": "error in sarnet: Chromosome error. (染色体不满足排列编码规则。)",
    "Half_N": "error in sarnet: Half_N error. (传入参数Half_N有误，详见API文档。)",
    "XOVR": "error in sarnet: XOVR must be in [0,1]. (交叉概率XOVR必须在[0, 1]之间。)",
}


# ---- the operator written out over the C library's srand/rand ---------------------------------


def next_rand_delta():
    """The value the next call will draw from NumPy's global generator (state left as it was)."""
    state = np.random.get_state()
    value = np.random.randint(2, 2147483647)
    np.random.set_state(state)
    return value


def ox(K, F, lo, hi):
    """The child of keeper K and filler F: a parent copy with the segment's genes struck out,
    read with one cursor into the columns before the segment and then after it."""
    mirror = list(F)
    for g in K[lo:hi + 1]:
        if g in mirror:
            mirror[mirror.index(g)] = None
    rest = iter(g for g in mirror if g is not None)
    return [K[j] if lo <= j <= hi else next(rest) for j in range(len(K))]


def cuts(L):
    c1 = libc.rand() % L
    c2 = (c1 + libc.rand() % (L - 1) + 1) % L
    return min(c1, c2), max(c1, c2)


def expected(Chrom, XOVR, Half_N, Parallel, randDelta):
    Chrom = [list(map(int, row)) for row in Chrom]
    N, L = len(Chrom), len(Chrom[0])

    def seed(i):
        if Parallel:
            libc.srand((randDelta + i) % 2**32)
        elif i == 0:
            libc.srand(randDelta)

    if Half_N is False or Half_N is True:
        X = N // 2
        out = [list(row) for row in Chrom] if Half_N is False else [None] * X
        for i in range(X):
            seed(i)
            a, b = Chrom[i], Chrom[i + X]
            if XOVR > libc.rand() * 2.0**-31:
                if L > 1:
                    lo, hi = cuts(L)
                    out[i] = ox(a, b, lo, hi)
                    if Half_N is False:
                        out[i + X] = ox(b, a, lo, hi)
                else:
                    out[i] = list(b)
                    if Half_N is False:
                        out[i + X] = list(a)
            else:
                out[i] = list(a)
        return A(out, dtype=np.int32).reshape(-1, L)
    out = []
    for c in range(min(N, Half_N)):
        seed(c)
        if c == 0 and not Parallel:
            libc.rand()
        P = libc.rand() % N
        Q = (P + libc.rand() % (N - 1) + 1) % N
        out.append(list(Chrom[P]) if L == 1 else ox(Chrom[P], Chrom[Q], *cuts(L)))
    return A(out, dtype=np.int32).reshape(-1, L)


def permutations(N, L, seed=0, values=None):
    rng = np.random.default_rng(seed)
    values = np.arange(L) if values is None else np.asarray(values)
    return A([rng.permutation(values) for _ in range(N)])


MODES = [False, True, 3, 300]
PARALLEL = pytest.mark.parametrize("Parallel", [False, True])


# ---- worked rules -------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "seed, K, F, children",
    [
        # cuts 2..4: the segment 3 4 5 stays, F's other genes fill columns 0, 1, 5, 6, 7 in F's order
        (86, [1, 2, 3, 4, 5, 6, 7, 8], [8, 6, 4, 2, 7, 5, 3, 1],
         [[8, 6, 3, 4, 5, 2, 7, 1], [1, 3, 4, 2, 7, 5, 6, 8]]),
        # cuts 0..5 with segments holding genes that the other parent lacks
        (28, [20, 1, 21, 2, 22, 3, 4, 5], [1, 2, 3, 4, 5, 6, 7, 8],
         [[20, 1, 21, 2, 22, 3, 4, 5], [1, 2, 3, 4, 5, 6, 20, 21]]),
    ],
)
def test_children_built_by_hand(seed, K, F, children):
    np.random.seed(seed)
    assert sarnet(A([K, F]), 1.0).tolist() == children
    np.random.seed(seed)
    assert sarnet(A([K, F]), 1.0, True).tolist() == children[:1]


@pytest.mark.parametrize(
    "N, Half_N, rows",
    [(6, False, 6), (5, False, 5), (5, None, 5), (5, True, 2), (7, True, 3), (4, 10, 4), (6, 3, 3), (6, 6, 6),
     (4, 10**30, 4)],
)
@PARALLEL
def test_rows_of_each_mode(N, Half_N, rows, Parallel):
    Chrom = permutations(N, 6)
    result = sarnet(Chrom, 1.0, Half_N, Parallel)
    assert result.shape == (rows, 6) and result.dtype == np.int32 and result.flags.c_contiguous
    if Half_N in (False, None) and N % 2:
        assert result[-1].tolist() == Chrom[-1].tolist()


@pytest.mark.parametrize("Half_N", [False, True, 5])
@pytest.mark.parametrize("XOVR", [0.7, -1.0, 7, "not checked"])
def test_one_row_comes_back_as_it_is(Half_N, XOVR):
    Chrom = A([[3, 1, 2]], dtype=np.int32)
    state = np.random.get_state()[1].copy()
    assert sarnet(Chrom, XOVR, Half_N) is Chrom
    spread = np.zeros((1, 6), dtype=np.int64)
    spread[0, ::2] = [3, 1, 2]
    assert sarnet(spread[:, ::2], XOVR, Half_N).tolist() == [[3, 1, 2]]  # converted
    converted = sarnet(Chrom.astype(float), XOVR, Half_N)
    assert converted.dtype == np.int32 and converted.tolist() == [[3, 1, 2]]
    assert np.array_equal(np.random.get_state()[1], state)


def test_one_column_returns_the_input_in_the_two_child_mode_only():
    Chrom = A([[4], [7], [1], [9]], dtype=np.int32)
    assert sarnet(Chrom, 1.0) is Chrom
    assert sarnet(Chrom, 1.0, True).tolist() == [[1], [9]]  # the partners' genes
    assert sarnet(Chrom, 0.0, True).tolist() == [[4], [7]]
    copies = sarnet(Chrom, None, 20)
    assert copies.shape == (4, 1) and set(copies[:, 0]) <= {4, 7, 1, 9}


@PARALLEL
def test_no_crossing_copies_the_parents(Parallel):
    Chrom = permutations(7, 5)
    result = sarnet(Chrom, 0.0, False, Parallel)
    assert result is not Chrom and result.tolist() == Chrom.tolist()
    assert sarnet(Chrom, 0, True, Parallel).tolist() == Chrom[:3].tolist()


# ---- reproducibility against the operator written out -------------------------------------------


CASES = {
    "10x8": permutations(10, 8),
    "9x5 odd": permutations(9, 5, 1),
    "2x2": permutations(2, 2, 2),
    "7x1": permutations(7, 1, 3),
    "negative": permutations(6, 7, 4, values=np.arange(-3, 4) * 5),
    "different sets": A([[1, 2, 3, 4, 5], [9, 8, 7, 6, 5], [5, 1, 7, 3, 9], [2, 4, 6, 8, 0]]),
    "different sets of 0..299": A([np.random.default_rng(i).choice(300, 90, replace=False) for i in range(9)]),
    "wide": permutations(8, 6, 5, values=[-2**31, -7, 0, 3, 2**30, 2**31 - 1]),
    "64x40": permutations(64, 40, 6),
    "20x100": permutations(20, 100, 9),
    "300x60": permutations(300, 60, 8),  # enough work to start the team
}


@pytest.mark.parametrize("name", CASES)
@pytest.mark.parametrize("Half_N", MODES)
@pytest.mark.parametrize("XOVR", [1.0, 0.5])
@PARALLEL
def test_result_follows_the_documented_draws(name, Half_N, XOVR, Parallel):
    Chrom = CASES[name]
    if Chrom.shape[1] == 1 and Half_N is False:
        pytest.skip("returned as it is")
    np.random.seed(len(name) + 10 * int(Parallel))
    randDelta = next_rand_delta()
    result = sarnet(Chrom, XOVR, Half_N, Parallel)
    assert_bytes_equal(result, expected(Chrom, XOVR, Half_N, Parallel, randDelta))


@pytest.mark.parametrize("randDelta", [2, 2147483646])  # seeds from 2 up, and past 2^31
@pytest.mark.parametrize("Half_N", MODES)
def test_parallel_seeds_of_every_size(monkeypatch, randDelta, Half_N):
    Chrom = CASES["300x60"]
    monkeypatch.setattr(np.random, "randint", lambda low, high: randDelta)
    result = sarnet(Chrom, 0.9, Half_N, True)
    assert_bytes_equal(result, expected(Chrom, 0.9, Half_N, True, randDelta))


@given(
    values=st.lists(st.integers(-2**31, 2**31 - 1), min_size=2, max_size=30, unique=True),
    N=st.integers(2, 12),
    Half_N=st.sampled_from(MODES),
    Parallel=st.booleans(),
    seed=st.integers(0, 2**32 - 1),
)
@settings(max_examples=150, deadline=None)
def test_children_are_permutations_of_their_parents(values, N, Half_N, Parallel, seed):
    Chrom = permutations(N, len(values), seed, values=np.array(values, dtype=np.int64))
    np.random.seed(seed)
    randDelta = next_rand_delta()
    result = sarnet(Chrom, 1.0, Half_N, Parallel)
    assert all(sorted(row) == sorted(values) for row in result.tolist())
    assert_bytes_equal(result, expected(Chrom, 1.0, Half_N, Parallel, randDelta))


@pytest.mark.parametrize("Half_N", MODES)
def test_float_matrix_equals_the_int32_one(Half_N):
    Chrom = permutations(10, 8)
    np.random.seed(3)
    a = sarnet(Chrom.astype(np.int32), 1.0, Half_N)
    np.random.seed(3)
    b = sarnet(np.asfortranarray(Chrom.astype(np.float32)), 1.0, Half_N)
    assert_bytes_equal(a, b)


def test_serial_path_leaves_the_process_generator_alone():
    libc.srand(12345)
    first = libc.rand()
    libc.srand(12345)
    sarnet(permutations(10, 8), 1.0)
    assert libc.rand() == first


# ---- checks, messages and their order -----------------------------------------------------------


GOOD = permutations(4, 5)


@pytest.mark.parametrize(
    "args, kwargs, error",
    [
        ((GOOD,), {"Parallel": 1}, "Parallel"),
        ((GOOD,), {"Parallel": np.bool_(True)}, "Parallel"),
        (("not an array",), {"Parallel": "True"}, "Parallel"),  # the switch comes first
        ((A([[1, 2, 2], [1, 2, 3]]),), {}, "Chromosome"),
        ((A([[0, 100, 7], [100, 5, 100]]),), {}, "Chromosome"),  # a range of 101 genes
        ((np.r_[np.arange(69), 0][None].repeat(2, 0),), {}, "Chromosome"),  # 69 values in 70 genes
        ((A([[0, 2**30, 7], [2**30, 5, 2**30]]),), {}, "Chromosome"),  # a range of 2^30 + 1
        ((A([[1, 1]]),), {"Half_N": "bad"}, "Chromosome"),  # the check comes before Half_N
        ((A([[1.5, 1.2], [0, 1]]),), {}, "Chromosome"),  # both 1 after truncation
        ((GOOD, 0.7, 0), {}, "Half_N"),
        ((GOOD, 0.7, -3), {}, "Half_N"),
        ((GOOD, 0.7, 2.0), {}, "Half_N"),
        ((GOOD, 0.7, np.int64(3)), {}, "Half_N"),
        ((GOOD, 0.7, "3"), {}, "Half_N"),
        ((A([[1, 2]]), 5.0, 0), {}, "Half_N"),  # before the early return
        ((GOOD, -0.01), {}, "XOVR"),
        ((GOOD, 1.01, 3), {}, "XOVR"),  # checked in the global mode too
        ((GOOD, float("nan")), {}, "XOVR"),
    ],
)
def test_module_errors(args, kwargs, error):
    np.random.seed(0)
    randDelta = next_rand_delta()
    with pytest.raises(RuntimeError) as e:
        sarnet(*args, **kwargs)
    assert e.value.args == (MESSAGES[error],)
    assert next_rand_delta() == randDelta  # no draw on an error


@pytest.mark.parametrize(
    "OldChrom, XOVR, exception",
    [
        ([[1, 2], [2, 1]], 0.7, AttributeError),  # no shape
        (A([1, 2, 3]), 0.7, IndexError),
        (np.zeros((0, 3)), 0.7, ValueError),  # NumPy's error for an empty reduction
        (np.zeros((3, 0)), 0.7, ValueError),
        (A([[0, 2**31], [1, 2]]), 0.7, OverflowError),
        (A([[-2**31 - 1, 0], [1, 2]]), 0.7, OverflowError),
        (A([[0.0, np.nan], [1, 2]]), 0.7, ValueError),
        (A([[0.0, np.inf], [1, 2]]), 0.7, OverflowError),
        (A([[0.0, 1e10], [1, 2]]), 0.7, OverflowError),
        (GOOD, "0.5", TypeError),
        (np.zeros((2, 2, 2)), 0.7, ValueError),  # a matrix is required
    ],
)
def test_errors_that_are_not_the_modules(OldChrom, XOVR, exception):
    with pytest.raises(exception):
        sarnet(OldChrom, XOVR)


def test_binding():
    with pytest.raises(TypeError, match=r"takes at most 5 positional arguments \(6 given\)"):
        sarnet(GOOD, 0.7, False, False, None, None)
    with pytest.raises(TypeError, match="unexpected keyword argument 'Half'"):
        sarnet(GOOD, Half=True)
    assert sarnet(OldChrom=GOOD, XOVR=None, Half_N=None, Parallel=None, params4="ignored").shape == (4, 5)


# ---- NumPy's generator, the caller's arrays, memory -----------------------------------------------


@pytest.mark.parametrize("Half_N", MODES)
@PARALLEL
def test_exactly_one_numpy_draw(Half_N, Parallel):
    np.random.seed(5)
    np.random.randint(2, 2147483647)
    after_one = next_rand_delta()
    np.random.seed(5)
    sarnet(GOOD, 0.7, Half_N, Parallel)
    assert next_rand_delta() == after_one


@pytest.mark.parametrize("Half_N", MODES)
def test_callers_array_is_not_written(Half_N):
    Chrom = np.asfortranarray(permutations(9, 6).astype(np.int64))
    int32 = permutations(9, 6).astype(np.int32)
    before, before32 = Chrom.copy(), int32.copy()
    sarnet(Chrom, 1.0, Half_N, True)
    sarnet(int32, 1.0, Half_N)
    assert_bytes_equal(Chrom, before)
    assert_bytes_equal(int32, before32)


def test_subclass_is_accepted():
    class Sub(np.ndarray):
        pass

    Chrom = permutations(6, 5).astype(np.int32)
    np.random.seed(1)
    a = sarnet(Chrom.view(Sub), 1.0)
    np.random.seed(1)
    assert_bytes_equal(a, sarnet(Chrom, 1.0))


def test_genes_far_apart_need_little_memory():
    # a direct table of the gene range would be 16 GB per thread
    Chrom = A([[0, -2**31, 2**31 - 1, 5], [2**31 - 1, 5, 0, -2**31]] * 50, dtype=np.int32)
    for Half_N in MODES:
        for row in sarnet(Chrom, 1.0, Half_N, True).tolist():
            assert sorted(row) == [-2**31, 0, 5, 2**31 - 1]
    with pytest.raises(RuntimeError, match="Chromosome"):
        sarnet(A([[0, 2**30, 0], [1, 2, 3]]))


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's own allocator needs the address space the limit takes away")
def test_scratch_allocation_failure_raises_memory_error(python):
    p = python(
        """
        import resource
        import numpy as np
        from evocore.core.sarnet import sarnet
        L = 2**23
        Chrom = np.empty((2, L), dtype=np.int32)
        Chrom[0] = np.arange(L) * 64
        Chrom[1] = Chrom[0][::-1]
        with open("/proc/self/statm") as f:
            mapped = int(f.read().split()[0]) * resource.getpagesize()
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        limit = mapped + 64 * 2**20   # less than the 256 MB hash of a row of 2^23 genes
        if hard != resource.RLIM_INFINITY and hard < limit:
            print("SKIP")
            raise SystemExit
        resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
        try:
            sarnet(Chrom)
        except MemoryError:
            print("MemoryError")
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(sarnet(Chrom[:, :4] // 64, 0.0)[0].tolist())
        """,
        env={"OMP_NUM_THREADS": 1},
    )
    assert p.returncode == 0, p.stderr
    if p.stdout.startswith("SKIP"):
        pytest.skip("address-space limit cannot be raised far enough")
    assert p.stdout.splitlines() == ["MemoryError", "[0, 1, 2, 3]"]
