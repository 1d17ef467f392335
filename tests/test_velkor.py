"""velkor: encoding of a phenotype matrix into binary/Gray 0/1 chromosomes."""

import warnings

import numpy as np
import pytest

from _support import assert_bytes_equal
from test_frame import FORMS
from evocore.core.velkor import velkor

A = np.array
nan, inf = np.nan, np.inf
INT_MIN = -2**31

MSG = {
    "Parallel": "error in velkor: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "rows": "error in velkor: FieldD must have 8 rows. (FieldD必须有8行。)",
    "disagree": "error in velkor: FieldD and Phen disagree. (译码矩阵FieldD的列数必须等于种群表现型矩阵Phen的列数。)",
    "long": "error in velkor: The elements of the first row of FieldD should not be bigger than 31. "
            "(FieldD的第一行的元素不能超过31。)",
    "negative": "error in velkor: The elements of the first row of FieldD should not be negative. "
                "(FieldD的第一行的元素不能为负数。)",
}


def field(lens, lb, ub, codes=0, lbin=1, ubin=1, varTypes=0, scales=0):
    """FieldD with one column per variable; scalars apply to every variable."""
    rows = [lens, lb, ub, codes, scales, lbin, ubin, varTypes]
    n = max(np.size(r) for r in rows)
    return np.vstack([np.broadcast_to(np.asarray(r, float), (n,)) for r in rows])


def c_digit(v, place):
    """(v / place) % 2 with C's truncating division and sign-of-dividend remainder."""
    q = abs(v) // place * (1 if v >= 0 else -1)
    return abs(q) % 2 * (1 if q >= 0 else -1)


def reference(Phen, FieldD):
    """The encoding written out element by element, for comparison."""
    Phen = np.asarray(Phen, dtype=float)
    rows = [np.asarray(FieldD)[k].astype(np.int32) for k in (0, 3, 5, 6, 7)]
    lens, codes, lbins, ubins, types = (r.tolist() for r in rows)
    lbs, ubs = np.asarray(FieldD)[1].astype(float), np.asarray(FieldD)[2].astype(float)
    out = np.empty((len(Phen), sum(lens)), np.int32)
    with np.errstate(all="ignore"):
        for i, x in enumerate(Phen):
            col = 0
            for j, L in enumerate(lens):
                d, U = x[j] - lbs[j], np.abs(ubs[j] - lbs[j])
                if types[j]:
                    y = np.float64(2**L - 1) * d / U + 0.5
                else:
                    y = np.float64(2**L + 1 - lbins[j] - ubins[j]) * d / U - (1 if lbins[j] == 0 else 0)
                v = int(y) if -2147483649.0 < y < 2147483648.0 else INT_MIN
                pre = 0
                for k in range(L):
                    b = c_digit(v, 2 ** (L - 1 - k))
                    out[i, col] = b if codes[j] == 0 else b ^ pre
                    pre, col = b, col + 1
    return out


PARALLEL = pytest.mark.parametrize("Parallel", [False, None, True])


# ---- worked values --------------------------------------------------------------------------------


@PARALLEL
@pytest.mark.parametrize(
    "x, F, digits",
    [
        (5.0, field(4, 0, 10), [0, 1, 1, 1]),
        (5.0, field(4, 0, 10, codes=1), [0, 1, 0, 0]),
        (5.0, field(4, 0, 10, varTypes=1), [1, 0, 0, 0]),
        (10.0, field(4, 0, 10), [1, 1, 1, 1]),
        (10.0, field(4, 0, 10, codes=1), [1, 0, 0, 0]),
        (5.0, field(4, 0, 10, lbin=0, ubin=0), [0, 1, 1, 1]),
        (7.0, field(3, 0, 7, varTypes=1), [1, 1, 1]),
        (7.0, field(3, 0, 7, codes=1, varTypes=1), [1, 0, 0]),
        # at an excluded bound: code -1 (last digit -1) and 2^len (all digits dropped)
        (0.0, field(4, 0, 10, lbin=0), [0, 0, 0, -1]),
        (0.0, field(4, 0, 10, codes=1, lbin=0), [0, 0, 0, -1]),
        (10.0, field(4, 0, 10, ubin=0), [0, 0, 0, 0]),
        # a negative code, and one of 2^len or more, by truncating division
        (-3.5, field(3, 0, 7, varTypes=1), [0, -1, -1]),
        (-3.5, field(3, 0, 7, codes=1, varTypes=1), [0, -1, 0]),
        (13.0, field(3, 0, 7, varTypes=1), [1, 0, 1]),
        (13.0, field(3, 0, 7, codes=1, varTypes=1), [1, 1, 1]),
    ],
)
def test_worked_values(x, F, digits, Parallel):
    Chrom = velkor(A([[x]]), F, Parallel)
    assert Chrom.dtype == np.int32 and Chrom.flags.c_contiguous
    assert Chrom.tolist() == [digits]
    assert reference(A([[x]]), F).tolist() == [digits]


@pytest.mark.parametrize("length", [1, 5, 30, 31])
@pytest.mark.parametrize("codes", [0, 1])
@pytest.mark.parametrize(
    "x, lb, ub", [(nan, 0, 1), (inf, 0, 1), (-inf, 0, 1), (0.5, 2, 2), (2.0, 2, 2), (1e300, 0, 1), (-1e12, 0, 1)]
)
def test_code_minus_two_to_the_31_gives_a_zero_segment(x, lb, ub, codes, length):
    F = field([2, length, 2], [0, lb, 0], [1, ub, 1], codes=[0, codes, 0])
    Chrom = velkor(A([[1.0, x, 0.0]]), F)
    assert Chrom[0, 2:2 + length].tolist() == [0] * length
    assert Chrom[0, :2].tolist() == [1, 1] and Chrom[0, 2 + length:].tolist() == [0, 0]


@pytest.mark.parametrize("lbin, ubin", [(0, 0), (0, 1), (1, 0), (1, 1)])
def test_length_31(lbin, ubin):
    # fenmus 2^31 + 1 - lbin - ubin, exact: the codes of values inside the range fit 31 digits
    Phen = A([[0.0], [1e-9], [0.25], [0.5], [1 - 1e-9], [1.0]])
    F = field(31, 0, 1, lbin=lbin, ubin=ubin)
    Chrom = velkor(Phen, F)
    assert_bytes_equal(Chrom, reference(Phen, F))
    inside = Chrom[1:5].astype(np.int64)
    assert set(np.unique(inside)) <= {0, 1}
    assert np.all(np.diff(inside @ 2 ** np.arange(30, -1, -1, dtype=np.int64)) > 0)
    assert Chrom[0].tolist() == [0] * 30 + [-1 if lbin == 0 else 0]
    assert Chrom[5].tolist() == [ubin] * 31  # 2^31 - 1, or 2^31 out of the int32 range


@pytest.mark.parametrize(
    "Phen, F, shape",
    [
        (A([[1.0, 2.0]]), field([0, 3], 0, 4), (1, 3)),
        (A([[1.0, 2.0]]), field([0, 0], 0, 4), (1, 0)),
        (np.empty((4, 0)), np.empty((8, 0)), (4, 0)),
        (np.empty((0, 2)), field([3, 4], 0, 4), (0, 7)),
        (np.empty((0, 0)), np.empty((8, 0)), (0, 0)),
    ],
)
def test_empty_segments_and_matrices(Phen, F, shape):
    for Parallel in (False, True):
        Chrom = velkor(Phen, F, Parallel)
        assert Chrom.shape == shape and Chrom.dtype == np.int32
        assert_bytes_equal(Chrom, reference(Phen, F))


def random_case(n, seed=3, wild=False):
    rng = np.random.default_rng(seed)
    nvar = 13
    lb = rng.uniform(-5, 5, nvar)
    F = field(rng.integers(0, 32, nvar), lb, lb + rng.uniform(0.1, 10, nvar), rng.integers(0, 3, nvar),
              rng.integers(0, 2, nvar), rng.integers(0, 2, nvar), rng.integers(0, 2, nvar), rng.normal(size=nvar))
    # values inside the range, at its bounds and outside it
    Phen = lb + (rng.uniform(-0.2, 1.2, (n, nvar)) * (F[2] - F[1]))
    Phen[rng.uniform(size=Phen.shape) < 0.05] = F[1][0]
    if wild:  # bin flags other than 0 and 1, a length-0 variable, NaN
        F[5, :3], F[6, 3:5], F[0, 6] = 2, -1, 0
        Phen[rng.uniform(size=Phen.shape) < 0.02] = nan
    return Phen, F


@pytest.mark.parametrize("wild", [False, True])
def test_random_values_against_the_reference(wild):
    Phen, F = random_case(60, wild=wild)
    assert_bytes_equal(velkor(Phen, F), reference(Phen, F))


@pytest.mark.parametrize("length", [1, 2, 3, 5, 20, 31])
@pytest.mark.parametrize("nvar", [1, 3])
def test_equal_lengths_against_the_reference(length, nvar):
    rng = np.random.default_rng(length * nvar)
    F = field(length, -2.0, 3.0, rng.integers(0, 2, nvar), rng.integers(0, 2, nvar), 1, rng.integers(0, 2, nvar))
    Phen = rng.uniform(-2.5, 3.5, (9, nvar))
    expected = reference(Phen, F)
    for rows in (1, 2, 3, 4, 9):
        assert_bytes_equal(velkor(Phen[:rows], F), expected[:rows])
        assert_bytes_equal(velkor(Phen[:rows], F, True), expected[:rows])
    many = np.tile(Phen, (40000 // (length * nvar) + 1, 1))  # enough work for a team
    assert_bytes_equal(velkor(many, F, True), np.tile(expected, (len(many) // 9, 1)))


@pytest.mark.parametrize("scales", [1.0, nan, -7.5, 1e300, "not a number"])
def test_row_4_is_never_read(scales):
    Phen, F = random_case(20)
    G = F.astype(object)
    G[4] = scales
    assert_bytes_equal(velkor(Phen, G), velkor(Phen, F))


# ---- checks and their order ---------------------------------------------------------------------------

P1, F1 = A([[5.0]]), field(4, 0, 10)
UNCONVERTIBLE = field(32, 0, 10).astype(object)
UNCONVERTIBLE[7, 0] = "x"


@pytest.mark.parametrize(
    "args, kwargs, exception, message",
    [
        ((P1, F1, 1), {}, RuntimeError, MSG["Parallel"]),
        ((P1, F1), {"Parallel": np.bool_(True)}, RuntimeError, MSG["Parallel"]),
        ((P1, F1[:7]), {"Parallel": "True"}, RuntimeError, MSG["Parallel"]),
        (([[5.0]], F1, 0), {}, RuntimeError, MSG["Parallel"]),
        (([[5.0]], F1), {}, AttributeError, None),
        ((A([5.0]), F1[:7]), {}, RuntimeError, MSG["rows"]),
        ((A([5.0]), F1), {}, IndexError, None),
        ((P1, F1[:, 0]), {}, IndexError, None),
        ((P1, np.vstack([F1, F1[:1]])), {}, RuntimeError, MSG["rows"]),
        ((P1, F1[:7, :0]), {}, RuntimeError, MSG["rows"]),
        ((A([[5.0, 1.0]]), F1), {}, RuntimeError, MSG["disagree"]),
        ((A([[5.0, 1.0]]), field(32, 0, 10)), {}, RuntimeError, MSG["disagree"]),
        ((P1, field(32, 0, 10)), {}, RuntimeError, MSG["long"]),
        ((A([[1.0, 2.0]]), field([-1, 32], 0, 10)), {}, RuntimeError, MSG["long"]),
        ((A([[1.0, 2.0]]), field([-1, 3], 0, 10)), {}, RuntimeError, MSG["negative"]),
        ((A([[1.0, 2.0]]), field([-3, 2], 0, 10)), {}, RuntimeError, MSG["negative"]),
        # the rows are converted before the lengths are looked at; the sum is converted first too
        ((P1, UNCONVERTIBLE), {}, ValueError, None),
        ((A([[1.0, 2.0]]), field([2**31 - 1, 1], 0, 10)), {}, OverflowError, "value too large to convert to int"),
        ((P1, np.ones((8, 1, 2))), {}, ValueError, "Buffer has wrong number of dimensions (expected 1, got 2)"),
        ((np.ones((1, 1, 2)), F1), {}, ValueError, "Buffer has wrong number of dimensions (expected 2, got 3)"),
    ],
)
def test_errors_and_their_order(args, kwargs, exception, message):
    with pytest.raises(exception) as info:
        velkor(*args, **kwargs)
    assert type(info.value) is exception
    if message is not None:
        assert info.value.args == (message,)


# ---- argument forms ---------------------------------------------------------------------------------------


@pytest.mark.parametrize("which", ["Phen", "FieldD"])
@pytest.mark.parametrize("form", list(FORMS))
def test_converted_arguments_give_the_same_bits(which, form):
    Phen, F = random_case(8, seed=11)
    Phen, F = np.round(Phen * 4) / 4, np.round(F * 4) / 4  # exact in float16 (rounded for int forms)
    if "int" in form:
        Phen, F = np.round(Phen), np.round(F)
    expected = velkor(Phen, F)
    args = {"Phen": Phen, "FieldD": F}
    args[which] = FORMS[form](args[which].copy())
    before = (args[which].dtype, args[which].strides, args[which].tobytes())
    assert_bytes_equal(velkor(args["Phen"], args["FieldD"]), expected)
    assert_bytes_equal(velkor(args["Phen"], args["FieldD"], True), expected)
    assert (args[which].dtype, args[which].strides, args[which].tobytes()) == before


@pytest.mark.parametrize("entry", [nan, inf, 3e9, -3e9])
def test_row_conversion_warns_as_numpy_does(entry):
    F = field([3, 3], 0, 7, varTypes=1)
    F[3, 1] = entry  # codes: NumPy's int32 cast gives -2^31 (Gray) and warns
    with warnings.catch_warnings(record=True) as ours:
        warnings.simplefilter("always")
        Chrom = velkor(A([[7.0, 7.0]]), F)
    with warnings.catch_warnings(record=True) as numpys:
        warnings.simplefilter("always")
        F[3].astype(np.int32)
    assert Chrom.tolist() == [[1, 1, 1, 1, 0, 0]]
    assert [(w.category, str(w.message)) for w in ours] == [(w.category, str(w.message)) for w in numpys]


# ---- threads and memory ---------------------------------------------------------------------------------


def test_table_allocation_failure_raises_memory_error(python):
    p = python(
        """
        import resource
        import numpy as np
        from evocore.core.velkor import velkor
        N = 2**22
        Phen, F = np.zeros((1, N)), np.zeros((8, N))
        F[0] = F[2] = 1.0
        with open("/proc/self/statm") as f:
            mapped = int(f.read().split()[0]) * resource.getpagesize()
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        # the converted rows and the result fit, the 192 MB of tables do not
        resource.setrlimit(resource.RLIMIT_AS, (mapped + (80 + 64 + 16) * 2**20, hard))
        try:
            velkor(Phen, F)
        except MemoryError as e:
            print("MemoryError", repr(str(e)))
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(velkor(Phen[:, :2], F[:, :2]).shape)
        """
    )
    assert p.returncode == 0, p.stderr
    assert p.stdout.splitlines() == ["MemoryError ''", "(1, 2)"]


def test_docstring():
    doc = velkor.__doc__
    assert doc.startswith("\nvelkor : function - 实整数值矩阵（包含实数和整数）到二进制/格雷编码矩阵的转换"
                          "(Real-integer numbers to binary strings)\n\n描述：\n")
    assert doc.endswith("\nCore version: 2.7\n\n")
    assert "语法:\n    Chrom = velkor(Phen, FieldD)\n    Chrom = velkor(Phen, FieldD, Parallel)\n\n输入参数:" in doc
