"""fendrik: merging of a constraint-violation matrix, with the count of satisfying rows."""

import numpy as np
import pytest

from _support import assert_bytes_equal, assert_same
from evocore import fendrik

nan, inf = np.nan, np.inf
A = np.array
CV = A([[0.5, -1.0], [0.0, 0.0], [2.0, 3.0]])
PARALLEL = pytest.mark.parametrize("Parallel", [False, None, True])


def msg(text):
    return "error in fendrik: " + text


M_PARALLEL = msg("Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)")
M_CV = msg("CV cannot be None. (传入参数CV必须不为None。)")
M_TYPE = msg("Type of Threshold error. (当传入参数Threshold的类型不合法，详见API文档。)")
M_ELEMENT = msg("The elementtype of Threshold must be int or float when Threshold is a Numpy ndarray. "
                "(当传入参数Threshold是个Numpy ndarray一维数组时，其元素的类型必须是int或float。)")
M_DIM = msg("The dimension of Threshold must be 1 when Threshold is a Numpy ndarray. "
            "(当传入参数Threshold是个Numpy ndarray类型数组时，它必须是个一维数组。)")
M_LEN = msg("The length of Threshold must be equal to the column number of CV. "
            "(当传入参数Threshold是个Numpy ndarray类型一维数组时，它的长度必须等于CV的列数。)")
M_COUNT = msg("Type of return_count error. (当传入参数return_count的类型不合法，详见API文档。)")


def reference(CV, Threshold=None):
    """The merged column and the count, column by column in NumPy."""
    CV = np.asarray(CV, dtype=float)
    per_column = isinstance(Threshold, np.ndarray)
    limits = Threshold.astype(float) if per_column else np.zeros(CV.shape[1])
    v = np.zeros((len(CV), 1))
    for j in range(CV.shape[1]):
        c = CV[:, j:j + 1]
        v = v + np.where(c > limits[j], c, 0.0)
    bound = 0.0 if per_column or Threshold is None else float(Threshold)
    return v, int(np.count_nonzero(v <= bound))


# ---- worked examples and thresholds ------------------------------------------------------------


@PARALLEL
@pytest.mark.parametrize("Threshold, violation, count", [
    (None, [[0.5], [0.0], [5.0]], 1),
    (1.0, [[0.5], [0.0], [5.0]], 2),
    (A([1.0, 2.5]), [[0.0], [0.0], [5.0]], 2),
])
def test_worked_examples(Threshold, violation, count, Parallel):
    result = fendrik(CV, Threshold, True, Parallel)
    assert type(result) is tuple and len(result) == 2
    assert_same(result[0], violation)
    assert type(result[1]) is int and result[1] == count
    assert_same(fendrik(CV, Threshold, Parallel=Parallel), violation)
    assert_same(fendrik(CV, Threshold, None, Parallel), violation)


@pytest.mark.parametrize("Threshold, same_as", [
    (None, 0.0), (True, 1.0), (False, 0.0), (2, 2.0), (np.float64(1.0), 1.0),
    (A([1, 2], np.int32), A([1.0, 2.0])), (A([1, 2], np.int64), A([1.0, 2.0])),
    (A([0.5, 2.5], np.float32), A([0.5, 2.5])), (A([9.0, 0.5, 9.0, 2.5])[1::2], A([0.5, 2.5])),
])
def test_equivalent_thresholds(Threshold, same_as):
    got, expected = fendrik(CV, Threshold, True), fendrik(CV, same_as, True)
    assert_bytes_equal(got[0], expected[0])
    assert got[1] == expected[1]
    assert fendrik(CV).tobytes() == fendrik(CV, 0.0).tobytes()


@pytest.mark.parametrize("CV, Threshold, violation, count", [
    # type 1: negative entries never contribute; the count is against the threshold
    (A([[-1.0, -2.0], [0.5, 0.5]]), 0.5, [[0.0], [1.0]], 1),
    # type 2: an entry above a negative threshold contributes (itself, not its excess)
    (A([[-1.0, -2.0], [0.5, -0.5]]), A([-1.5, -3.0]), [[-3.0], [0.0]], 2),
    (A([[-1.0, -2.0], [0.5, 0.25]]), A([-0.5, -1.0]), [[0.0], [0.75]], 1),
    # NaN on either side of a comparison adds nothing; a NaN merged value is never counted
    (A([[nan, 1.0], [inf, 2.0], [nan, -inf]]), 3.0, [[1.0], [inf], [0.0]], 2),
    (A([[1.0, 1.0], [2.0, 3.0]]), A([nan, 0.0]), [[1.0], [3.0]], 0),
    (A([[1.0, 1.0], [0.0, 0.0]]), nan, [[2.0], [0.0]], 0),
    # zero-size matrices
    (np.empty((0, 3)), None, np.empty((0, 1)), 0),
    (np.empty((3, 0)), None, [[0.0], [0.0], [0.0]], 3),
    (np.empty((2, 0)), -1.0, [[0.0], [0.0]], 0),
])
@PARALLEL
def test_values_and_counts(CV, Threshold, violation, count, Parallel):
    merged, n = fendrik(CV, Threshold, True, Parallel)
    assert_same(merged, violation)
    assert n == count


# ---- errors, in the documented order ---------------------------------------------------------------


class HasShape:
    shape = (3, 2)


@pytest.mark.parametrize("args, kwargs, exception, message", [
    ((CV,), dict(Parallel=1), RuntimeError, M_PARALLEL),
    ((None,), dict(Parallel=np.True_), RuntimeError, M_PARALLEL),
    ((None,), dict(Threshold="x", return_count=1), RuntimeError, M_CV),
    (([[1.0, 2.0]],), {}, AttributeError, "'list' object has no attribute 'shape'"),
    ((A([1.0, 2.0]),), {}, IndexError, "tuple index out of range"),
    ((CV, "1"), {}, RuntimeError, M_TYPE),
    ((CV, [1.0, 2.0]), {}, RuntimeError, M_TYPE),
    ((CV, np.int64(1)), {}, RuntimeError, M_TYPE),
    ((CV, np.float32(1)), {}, RuntimeError, M_TYPE),
    ((CV, np.bool_(True)), {}, RuntimeError, M_TYPE),
    ((CV, A([True, False])), {}, RuntimeError, M_ELEMENT),
    ((CV, A([1, 2], np.int8)), {}, RuntimeError, M_ELEMENT),
    ((CV, A([1, 2], np.uint32)), {}, RuntimeError, M_ELEMENT),
    ((CV, A([[1, 2]], np.int8)), {}, RuntimeError, M_ELEMENT),
    ((CV, A([[1.0, 2.0]])), {}, RuntimeError, M_DIM),
    ((CV, A(1.0)), {}, RuntimeError, M_DIM),
    ((CV, A([1.0, 2.0, 3.0])), dict(return_count=1), RuntimeError, M_LEN),
    ((CV,), dict(return_count=1), RuntimeError, M_COUNT),
    ((CV,), dict(return_count="yes", Parallel=True), RuntimeError, M_COUNT),
    ((HasShape(),), dict(return_count=True), TypeError, "Cannot convert HasShape to numpy.ndarray"),
    ((np.zeros((2, 2, 2)),), {}, ValueError, "Buffer has wrong number of dimensions (expected 2, got 3)"),
])
def test_errors_and_their_order(args, kwargs, exception, message):
    with pytest.raises(exception) as e:
        fendrik(*args, **kwargs)
    assert str(e.value) == message if exception is RuntimeError else message in str(e.value)


# ---- layouts, element types, ownership and the thread team -------------------------------------------


def random_cv(rows, cols, seed=11):
    rng = np.random.default_rng(seed)
    CV = rng.normal(size=(rows, cols))
    CV[rng.uniform(size=CV.shape) < 0.05] = nan
    return CV


LAYOUTS = {
    "fortran": np.asfortranarray,
    "reversed": lambda a: a[::-1],
    "strided": lambda a: np.repeat(a, 2, axis=1)[:, ::2],
    "float32": lambda a: a.astype(np.float32),
    "int64": lambda a: np.nan_to_num(a * 4).round().astype(np.int64),
    "big-endian": lambda a: a.astype(">f8"),
    "read-only": lambda a: np.frombuffer(a.tobytes()).reshape(a.shape),
    "subclass": lambda a: a.view(type("Sub", (np.ndarray,), {})),
}


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("Threshold", [None, 0.3, A([0.1, -0.2, 0.0], np.float32)])
def test_converted_cv_gives_the_result_of_its_float64_equivalent(layout, Threshold):
    given = LAYOUTS[layout](random_cv(300, 3))
    before = given.tobytes()
    plain = np.ascontiguousarray(given, dtype=float)
    for Parallel in (False, True):
        got, expected = fendrik(given, Threshold, True, Parallel), reference(plain, Threshold)
        assert_bytes_equal(got[0], expected[0])
        assert got[1] == expected[1]
        assert not np.shares_memory(got[0], given)
    assert given.tobytes() == before


@pytest.mark.parametrize("shape", [(40001, 3), (40001, 1), (9001, 7), (2, 40000), (3, 20000), (1, 1)])
@pytest.mark.parametrize("typed", [False, True])
def test_parallel_equals_serial_and_rows_are_independent(shape, typed):
    CV = random_cv(*shape)
    Threshold = np.linspace(-0.5, 0.5, shape[1]) if typed else 0.25
    serial = fendrik(CV, Threshold, True)
    parallel = fendrik(CV, Threshold, True, True)
    assert_bytes_equal(parallel[0], serial[0])
    assert parallel[1] == serial[1]
    expected = reference(CV, Threshold)
    assert_bytes_equal(serial[0], expected[0])
    assert serial[1] == expected[1]
    rows = np.concatenate([fendrik(CV[i:i + 1].copy(), Threshold) for i in range(0, shape[0], max(1, shape[0] // 50))])
    assert_bytes_equal(rows, serial[0][::max(1, shape[0] // 50)])


def test_docstring():
    doc = fendrik.__doc__
    assert doc.startswith("\nfendrik : function - 合并违反约束条件程度矩阵(Merge CV)\n")
    assert doc.endswith("\nCore version: 2.7\n\n")
    forms = ["(CV)", "(CV, Threshold)", "(CV, Threshold, return_count)", "(CV, Threshold, return_count, Parallel)"]
    syntax = ["1.return_count=False时："] + [f"Violation = fendrik{f}" for f in forms]
    syntax += ["2.return_count=True时："] + [f"Violation, count = fendrik{f}" for f in forms]
    lines = [line.strip() for line in doc.split("\n")]
    start = lines.index(syntax[0])
    assert lines[start:start + len(syntax)] == syntax
