"""polvane: distance matrices between the rows of two matrices."""

import numpy as np
import pytest

import evocore.core.polvane as polvane_module
from _support import assert_bytes_equal, assert_same
from evocore.core.polvane import polvane

A_ = np.array
nan, inf = np.nan, np.inf
PARALLEL = pytest.mark.parametrize("Parallel", [False, None, True])
SUMS = pytest.mark.parametrize("metric", ["euclidean", "cityblock"])

ERR = {
    "Parallel": "error in polvane: Parallel must be None, True or False. (传入参数Parallel必须是None,True或者False。)",
    "column": "error in polvane: The column of A must be equal to that of B. (传入参数A和B的列数必须相等。)",
    "metric": "error in polvane: The metric can only be euclidean, cityblock, cosine, or cosine_similarity. "
              "(metric允许的取值为：euclidean, cityblock, cosine, or cosine_similarity。)",
}


def reference(A, B, metric):
    """Every entry summed over k in order with NumPy's elementwise operations (the same bits)."""
    A, B = np.asarray(A, float), np.asarray(B, float)
    s = np.zeros((len(A), len(B)))
    with np.errstate(invalid="ignore"):
        for k in range(A.shape[1]):
            d = A[:, None, k] - B[None, :, k]
            s = s + (d * d if metric == "euclidean" else np.abs(d))
    return np.sqrt(s) if metric == "euclidean" else s


def unit(X):
    """Each row over its norm, the square root of its squares summed in order."""
    with np.errstate(invalid="ignore"):
        return X / reference(X, np.zeros((1, X.shape[1])), "euclidean")


def random(shape, seed=0):
    return np.random.default_rng(seed).standard_normal(shape)


# ---- worked examples -----------------------------------------------------------------------------


@PARALLEL
@pytest.mark.parametrize("metric, expected", [("euclidean", [[0.0], [3.0]]), ("cityblock", [[0.0], [5.0]])])
def test_worked_example(Parallel, metric, expected):
    A = A_([[0.0, 0.0, 0.0], [1.0, 2.0, 2.0]])
    assert_same(polvane(A, A_([[0.0, 0.0, 0.0]]), metric, Parallel), expected)


def test_default_metric_and_keywords():
    A, B = A_([[0.0, 0.0, 0.0], [1.0, 2.0, 2.0]]), A_([[0.0, 0.0, 0.0]])
    assert_same(polvane(A, B), [[0.0], [3.0]])
    assert_same(polvane(B=B, A=A, Parallel=None, metric="cityblock"), [[0.0], [5.0]])


@PARALLEL
def test_cosine_examples(Parallel):
    e1, e2 = A_([[1.0, 0.0]]), A_([[0.0, 1.0]])
    assert_same(polvane(e1, e2, "cosine", Parallel), [[1.0]])
    assert_same(polvane(e1, e2, "cosine_similarity", Parallel), [[0.0]])
    assert polvane(A_([[1.0, 1.0]]), A_([[2.0, 2.0]]), "cosine_similarity", Parallel)[0, 0] == pytest.approx(1.0)


# ---- checks and their order --------------------------------------------------------------------


class Shaped:
    shape = (2, 3)


@pytest.mark.parametrize(
    "args, exception, message",
    [
        ((A_([[1.0]]), A_([[1.0]]), "euclidean", 1), RuntimeError, ERR["Parallel"]),
        (([1], [2], "nope", "True"), RuntimeError, ERR["Parallel"]),  # before any shape is read
        ((A_([[1.0, 2.0]]), A_([[1.0]]), "nope"), RuntimeError, ERR["column"]),
        ((A_([[1.0]]), A_([[1.0]]), None), RuntimeError, ERR["metric"]),
        ((A_([[1.0]]), A_([[1.0]]), "Euclidean"), RuntimeError, ERR["metric"]),
        ((A_([[1.0]]), A_([[1.0]]), b"euclidean"), RuntimeError, ERR["metric"]),
        (([[1.0]], A_([[1.0]])), AttributeError, "'list' object has no attribute 'shape'"),
        ((A_([1.0]), A_([[1.0]])), IndexError, "tuple index out of range"),
        ((np.zeros((2, 3, 1)), np.zeros((2, 3))), ValueError, "Buffer has wrong number of dimensions (expected 2, got 3)"),
        ((Shaped(), np.zeros((2, 3))), TypeError, "Cannot convert Shaped to numpy.ndarray"),
        ((np.zeros((2, 3)), Shaped(), "cosine"), TypeError, "Cannot convert Shaped to numpy.ndarray"),
        ((Shaped(), Shaped(), "cityblock"), TypeError, "Cannot convert Shaped to numpy.ndarray"),
    ],
)
def test_errors_in_order(args, exception, message):
    with pytest.raises(exception) as info:
        polvane(*args)
    assert type(info.value) is exception and str(info.value) == message


def test_nothing_is_allocated_before_the_metric_error(monkeypatch):
    class NoEmpty:
        def __getattr__(self, name):
            if name == "empty":
                raise AssertionError("allocated")
            return getattr(np, name)

    monkeypatch.setattr(polvane_module, "np", NoEmpty())
    with pytest.raises(RuntimeError, match="metric can only"):
        polvane(A_([[1.0]]), A_([[1.0]]), "nope")
    with pytest.raises(AssertionError, match="allocated"):
        polvane(A_([[1.0]]), A_([[1.0]]))


def test_metric_compared_with_equality():
    class Loose(str):
        def __eq__(self, other):
            return other == "cityblock"
        __hash__ = str.__hash__

    assert_same(polvane(A_([[0.0, 0.0]]), A_([[1.0, 2.0]]), Loose("x")), [[3.0]])


# ---- exact sums ------------------------------------------------------------------------------------


SHAPES = [(1, 1, 1), (3, 5, 2), (9, 17, 3), (33, 40, 16), (70, 9, 7), (130, 131, 5), (64, 64, 16), (301, 8, 40),
          (12, 11, 1), (20, 9, 2), (17, 30, 4), (8, 8, 0)]


@SUMS
@pytest.mark.parametrize("ra, rb, dim", SHAPES)
def test_entries_are_the_ordered_sums(metric, ra, rb, dim):
    A, B = random((ra, dim), 1), random((rb, dim), 2)
    expected = reference(A, B, metric)
    assert_bytes_equal(polvane(A, B, metric), expected)
    assert_bytes_equal(polvane(A, B, metric, True), expected)
    assert_bytes_equal(polvane(A, A, metric), reference(A, A, metric))
    assert_bytes_equal(polvane(A, A, metric, True), reference(A, A, metric))


@SUMS
def test_agrees_with_scipy(metric):
    cdist = pytest.importorskip("scipy.spatial.distance").cdist
    A, B = random((200, 11), 3), random((150, 11), 4)
    np.testing.assert_allclose(polvane(A, B, metric), cdist(A, B, metric), rtol=1e-14, atol=0)


@SUMS
@pytest.mark.parametrize("n", [1, 7, 65, 300])
def test_same_object_is_symmetric_and_equals_the_general_path(metric, n):
    A = random((n, 6), n)
    C = polvane(A, A, metric)
    assert_bytes_equal(C, polvane(A, A.copy(), metric))
    assert_bytes_equal(C, C.T.copy())
    assert np.all(np.diag(C) == 0.0) and not np.signbit(np.diag(C)).any()


# ---- special values and empty matrices -------------------------------------------------------------


@SUMS
def test_nan_and_infinities(metric):
    A = A_([[0.0, 1.0], [nan, 1.0], [inf, 0.0], [-inf, 2.0]])
    B = A_([[1.0, 1.0], [inf, 1.0], [0.0, -inf]])
    assert_same(polvane(A, B, metric), reference(A, B, metric))
    assert_same(polvane(A, A, metric), reference(A, A, metric))  # inf - inf on the diagonal: NaN


@pytest.mark.parametrize("metric, fill", [("euclidean", 0.0), ("cityblock", 0.0), ("cosine", 1.0),
                                          ("cosine_similarity", 0.0)])
def test_empty_matrices(metric, fill):
    A, B = np.zeros((3, 2)), np.zeros((4, 2))
    assert_same(polvane(np.zeros((0, 2)), B, metric), np.empty((0, 4)))
    assert_same(polvane(A, np.zeros((0, 2)), metric), np.empty((3, 0)))
    assert_same(polvane(np.ones((3, 0)), np.ones((4, 0)), metric), np.full((3, 4), fill))
    Z = np.ones((3, 0))
    assert_same(polvane(Z, Z, metric), np.full((3, 3), fill))


# ---- cosine ----------------------------------------------------------------------------------------


@pytest.mark.parametrize("same", [False, True])
def test_cosine_is_one_minus_the_product_of_unit_rows(same):
    A = random((40, 5), 5)
    A[3] = 0.0
    B = A if same else random((30, 5), 6)
    similarity = unit(A) @ unit(B).T
    assert_same(polvane(A, B, "cosine_similarity"), similarity)
    assert_same(polvane(A, B, "cosine", True), 1.0 - similarity)
    assert np.isnan(polvane(A, B, "cosine")[3]).all()


# ---- converted inputs ------------------------------------------------------------------------------


def converted(X):
    return {
        "fortran": np.asfortranarray(X),
        "strided": np.repeat(X, 2, axis=1)[:, ::2],
        "float32": X.astype(np.float32),
        "int": X.astype(np.int64),
        "fortran-float32": np.asfortranarray(X.astype(np.float32)),
    }


@pytest.mark.parametrize("form", list(converted(np.zeros((1, 1)))))
@pytest.mark.parametrize("metric", ["euclidean", "cityblock", "cosine", "cosine_similarity"])
def test_converted_inputs_equal_their_c_ordered_float64_form(form, metric):
    A, B = np.round(random((9, 4), 7) * 8), np.round(random((6, 4), 8) * 8)
    A_form, B_form = converted(A)[form], converted(B)[form]
    before = A_form.copy()
    expect = polvane(np.array(A_form, dtype=float), np.array(B_form, dtype=float), metric)
    assert_bytes_equal(polvane(A_form, B_form, metric), expect)
    assert_bytes_equal(polvane(A_form, B, metric), polvane(np.array(A_form, dtype=float), B, metric))
    same = np.array(A_form, dtype=float)
    assert_bytes_equal(polvane(A_form, A_form, metric), polvane(same, same, metric))
    assert_bytes_equal(A_form, before)


# ---- the docstring ---------------------------------------------------------------------------------


def test_docstring():
    lines = polvane.__doc__.split("\n")
    assert lines[1] == "    polvane : function - 距离计算(Distance Calculation)"
    start = lines.index("    语法:") + 1
    assert lines[start:start + 3] == ["        dis = polvane(A, B)", "        dis = polvane(A, B, metric)",
                                      "        dis = polvane(A, B, metric, Parallel)"]
    assert polvane.__doc__.endswith("\n    Core version: 2.7\n\n")
