"""ulvaro: power-law fitness of a single-objective column."""

import numpy as np
import pytest

from _support import assert_bytes_equal, assert_same
from evocore import ulvaro

nan = np.nan
A = np.array
OBJV = A([[1.0], [2.0], [3.0]])


def msg(text):
    return "error in ulvaro: " + text


M_OBJV = msg("ObjV must be an n*1 array.  (目标函数矩阵ObjV必须是n行1列的Numpy ndarray类型矩阵。)")
M_MAXORMINS = msg("maxormins and ObjV disagree. (输入参数maxormins和ObjV不匹配，详见help()帮助文档。)")
M_K_SCALAR = msg("k must be a sclar. (传入本函数的参数k必须为一个标量。)")
M_K_POSITIVE = msg("The k must be more than 0. (传入本函数的参数k必须大于0。)")
M_CV = msg("CV must be a 2-D Numpy ndarray. (违反约束程度矩阵必须是一个2维的Numpy ndarray类型矩阵。)")
M_CV_ROWS = msg("CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)")


def reference(ObjV, CV=None, maxormins=None, k=1):
    """The documented steps in NumPy; the penalty's sums taken column by column."""
    ObjV = ObjV.copy().astype(float)
    if maxormins is not None:
        ObjV = maxormins * ObjV
    if CV is not None and len(ObjV):
        CV = np.asarray(CV, dtype=float)
        s = sum((np.where(c > 0, c, 0.0) for c in CV.T), np.zeros(len(CV)))
        ObjV[s > 0, 0] = np.max(ObjV) + s[s > 0]
    if np.all(ObjV == ObjV[0]):
        return np.ones((ObjV.shape[0], 1))
    ObjV = ObjV - np.max(ObjV)
    ObjV = ObjV / -np.min(ObjV)
    return (-ObjV) ** (1.0 if k is None else float(k))


@pytest.mark.parametrize("args, kwargs, expected", [
    ((OBJV,), dict(k=2), [[1.0], [0.25], [0.0]]),
    ((OBJV, None, A([-1])), dict(k=2), [[0.0], [0.25], [1.0]]),
    ((OBJV, A([[0.0], [0.5], [0.0]])), dict(k=2), [[1.0], [0.0], [0.04000000000000001]]),
    # an odd integer k keeps the worst individual's negative zero
    ((OBJV,), {}, [[1.0], [0.5], [-0.0]]),
    ((OBJV,), dict(k=3), [[1.0], [0.125], [-0.0]]),
    # NumPy's ** takes k = 0.5 as a square root, and sqrt(-0.0) is -0.0 (the C library's pow gives +0.0)
    ((OBJV,), dict(k=0.5), [[1.0], [0.7071067811865476], [-0.0]]),
    # a single individual, equal values (zeros of both signs included), all equal after the penalty
    ((A([[7.5]]),), {}, [[1.0]]),
    ((A([[0.0], [-0.0], [0.0]]),), dict(k=3), [[1.0], [1.0], [1.0]]),
    ((A([[1.0], [3.0]]), A([[2.0], [2.0]])), {}, [[1.0], [1.0]]),
    # a NaN makes every fitness NaN
    ((A([[1.0], [nan], [3.0]]),), {}, [[nan], [nan], [nan]]),
    ((A([[nan], [1.0]]),), dict(k=2), [[nan], [nan]]),
])
def test_values(args, kwargs, expected):
    assert_same(ulvaro(*args, **kwargs), expected)


@pytest.mark.parametrize("k, same_as", [(None, 1), (1, 1.0), (2, 2.0), (True, 1.0), (np.float64(2.5), 2.5)])
def test_equivalent_exponents(k, same_as):
    assert_bytes_equal(ulvaro(OBJV * A([[1.0], [4.0], [-2.0]]), k=k), ulvaro(OBJV * A([[1.0], [4.0], [-2.0]]), k=same_as))


@pytest.mark.parametrize("k", [1, 2, 3, 0.5, 0.37, 1.7, 10.0])
@pytest.mark.parametrize("rows", [2, 5, 100, 4097, 20000])
def test_random_columns_match_the_numpy_steps(rows, k):
    rng = np.random.default_rng(rows)
    ObjV = rng.normal(size=(rows, 1)) * 10
    ObjV[rng.integers(rows)] = 0.0
    CV = rng.random((rows, 3)) - 0.7
    for args in [(ObjV,), (ObjV, CV), (ObjV, None, A([-1])), (ObjV, CV, A([-1.0], np.float32)),
                 (np.minimum(ObjV, 0.0),), (np.maximum(ObjV, -0.0), None, A([-1]))]:
        assert_bytes_equal(ulvaro(*args, k=k), reference(*args, k=k))


def test_feasible_individuals_are_fitter():
    ObjV = A([[5.0], [1.0], [9.0], [2.0], [4.0]])
    CV = A([[0.0, 0.0], [0.5, 0.25], [0.0, -1.0], [2.0, 0.0], [0.0, nan]])
    FitnV = ulvaro(ObjV, CV)[:, 0]
    feasible, infeasible = FitnV[[0, 2, 4]], FitnV[[1, 3]]
    assert feasible.min() > infeasible.max()
    assert FitnV[1] > FitnV[3] == 0.0


@pytest.mark.parametrize("ObjV, maxormins", [
    (A([[1], [5], [2]]), None),
    (A([[1], [5], [2]], np.int8), A([-1], np.int8)),
    (A([[1.0], [5.0], [2.0]], np.float32), A([-1.0], np.float16)),
    (np.asfortranarray(A([[1.0, 0.0], [5.0, 0.0], [2.0, 0.0]]))[:, :1], A([True])),
    (A([[1.0], [5.0], [2.0]]), A([2], np.uint64)),
])
def test_element_types_and_layouts(ObjV, maxormins):
    CV = A([[0.0], [0.0], [1.0]])
    plain = ObjV.astype(float)
    for cv in (None, CV, np.asfortranarray(CV.astype(np.int32))):
        assert_bytes_equal(ulvaro(ObjV, cv, maxormins, 2), reference(plain, CV if cv is not None else None, maxormins, 2))


# ---- errors, in the documented order ---------------------------------------------------------------


@pytest.mark.parametrize("args, kwargs, message", [
    (([[1.0], [2.0]],), {}, M_OBJV),
    ((A([1.0, 2.0]),), dict(maxormins=[1]), M_OBJV),
    ((A([[1.0, 2.0]]),), dict(k="x"), M_OBJV),
    ((OBJV,), dict(maxormins=A([1, 1]), k=-1), M_MAXORMINS),
    ((OBJV,), dict(maxormins=A([[1]])), M_MAXORMINS),
    ((OBJV,), dict(maxormins=[1]), M_MAXORMINS),
    ((OBJV,), dict(maxormins=A([1j])), M_MAXORMINS),
    ((OBJV,), dict(maxormins=A([1], dtype=object)), M_MAXORMINS),
    ((OBJV,), dict(maxormins=A([1], dtype=np.longdouble)), M_MAXORMINS),
    ((OBJV,), dict(k="2", CV=[1]), M_K_SCALAR),
    ((OBJV,), dict(k=np.int64(2)), M_K_SCALAR),
    ((OBJV,), dict(k=A(2.0)), M_K_SCALAR),
    ((OBJV,), dict(k=False), M_K_POSITIVE),
    ((OBJV,), dict(k=0, CV=[1]), M_K_POSITIVE),
    ((OBJV,), dict(k=-1.5), M_K_POSITIVE),
    ((OBJV, A([0.0, 1.0, 0.0])), {}, M_CV),
    ((OBJV, [[0.0], [1.0], [0.0]]), {}, M_CV),
    ((OBJV, np.zeros((2, 1))), {}, M_CV_ROWS),
])
def test_errors_and_their_order(args, kwargs, message):
    with pytest.raises(RuntimeError) as e:
        ulvaro(*args, **kwargs)
    assert e.value.args == (message,)


@pytest.mark.parametrize("CV", [None, np.zeros((0, 2))])
def test_zero_rows_fail_at_the_first_row(CV):
    with pytest.raises(IndexError, match="index 0 is out of bounds"):
        ulvaro(np.empty((0, 1)), CV)


# ---- ownership ----------------------------------------------------------------------------------------


class Sneaky(np.ndarray):
    """Hands back its own memory instead of copies, or the caller's array as a product."""

    def copy(self, *args, **kwargs):
        return self

    def astype(self, *args, **kwargs):
        return self

    def __mul__(self, other):
        return self.product


@pytest.mark.parametrize("sneaky", ["ObjV", "maxormins"])
def test_callers_arrays_are_never_written(sneaky):
    ObjV, CV, maxormins = A([[4.0], [1.0], [3.0]]), A([[0.0], [2.0], [0.0]]), A([1.0])
    if sneaky == "ObjV":
        ObjV = ObjV.view(Sneaky)
    else:
        maxormins = maxormins.view(Sneaky)
        maxormins.product = ObjV
    expected = reference(A([[4.0], [1.0], [3.0]]), CV)
    before = [a.tobytes() for a in (ObjV, CV, maxormins)]
    for m in (None, maxormins):
        FitnV = ulvaro(ObjV, CV, m)
        assert_same(FitnV, expected)
        assert not any(np.shares_memory(FitnV, a) for a in (ObjV, CV, maxormins))
        assert_same(ulvaro(ObjV, None, m), reference(A([[4.0], [1.0], [3.0]])))
    assert [a.tobytes() for a in (ObjV, CV, maxormins)] == before


def test_docstring():
    doc = ulvaro.__doc__
    assert doc.startswith("\nulvaro : function - 幂尺度变换适应度计算\n")
    assert doc.endswith("\nCore version: 2.7\n\n")
    syntax = ["FitnV = ulvaro(ObjV)", "FitnV = ulvaro(ObjV, CV)", "FitnV = ulvaro(ObjV, CV, maxormins)",
              "FitnV = ulvaro(ObjV, CV, maxormins, k)"]
    lines = [line.strip() for line in doc.split("\n")]
    start = lines.index(syntax[0])
    assert lines[start:start + 4] == syntax
    assert "F' = (-ObjV) ^ k" in doc


class SelfAstype(np.ndarray):
    """A subclass whose copy and astype hand back the array itself, dtype unchanged."""

    def copy(self, *args, **kwargs):
        return self

    def astype(self, *args, **kwargs):
        return self


@pytest.mark.parametrize("values", [np.array([[28701], [-32768], [7]], np.int16), np.array([[-3.5], [6.25]], np.float16)])
def test_working_copy_is_float64_whatever_astype_returns(values):
    before = values.tobytes()
    result = ulvaro(values.view(SelfAstype), None, None, 2)
    assert result.dtype == np.float64 and values.tobytes() == before
    assert result.tobytes() == ulvaro(values.astype(float), None, None, 2).tobytes()
