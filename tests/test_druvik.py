"""druvik: weighted Chebyshev aggregation, with objective directions and the feasibility rule."""

import numpy as np
import pytest

from _support import MESSAGES, assert_bytes_equal, assert_same
from evocore.core.druvik import druvik

nan, inf = np.nan, np.inf

A = np.array  # literal arrays read better this way


def reference(ObjV, weights, idealPoint, CV=None, maxormins=None):
    """The aggregation written out with NumPy, operation for operation, for comparison."""
    F = np.array(ObjV, dtype=float)
    if maxormins is not None:
        F = F * np.asarray(maxormins).astype(np.int32).astype(float)
    if CV is not None and len(F):
        cv = np.array(CV, dtype=float)
        total = np.zeros(len(F))
        for c in range(cv.shape[1]):
            total = total + np.where(cv[:, c] > 0, cv[:, c], 0.0)
        worst = F[0].copy()
        for row in F[1:]:
            worst = np.where(row > worst, row, worst)
        bad = total > 0
        F[bad] = worst + total[bad][:, None]
    t = np.abs(F - np.asarray(idealPoint, float)) * np.asarray(weights, float)
    if t.shape[1] == 0:
        return np.zeros((len(t), 1))
    best = t[:, 0]
    for j in range(1, t.shape[1]):
        best = np.where(t[:, j] > best, t[:, j], best)
    return best.reshape(-1, 1)


def working_matrix(ObjV, **options):
    """|_ObjV|, the absolute working matrix that druvik aggregates, read back one column at a
    time through one-hot weights and a zero ideal point (finite values only)."""
    ObjV = np.asarray(ObjV, dtype=float)
    n, m = ObjV.shape
    columns = []
    for j in range(m):
        w = np.zeros((n, m))
        w[:, j] = 1.0
        columns.append(druvik(ObjV, w, np.zeros(m), **options)[:, 0])
    return np.stack(columns, axis=1)


PARALLEL = pytest.mark.parametrize("Parallel", [False, None, True])


# ---- worked examples --------------------------------------------------------------------------


@PARALLEL
def test_two_rows_with_ideal_point(Parallel):
    result = druvik(A([[1.0, 4.0], [3.0, 2.0]]), A([[0.5, 0.5], [0.9, 0.1]]), A([1.0, 2.0]), Parallel=Parallel)
    assert_same(result, [[1.0], [1.8]])


@PARALLEL
def test_without_ideal_point_returns_column_minima(Parallel):
    result = druvik(A([[1.0, 4.0], [3.0, 2.0]]), A([[0.5, 0.5], [0.9, 0.1]]), Parallel=Parallel)
    assert_same(result, [1.0, 2.0])
    assert result.ndim == 1


@pytest.mark.parametrize("idealPoint", [None, "omitted"])
def test_explicit_none_ideal_point_equals_omitted(idealPoint):
    kw = {} if idealPoint == "omitted" else {"idealPoint": None}
    assert_same(druvik(A([[5.0, 1.0], [2.0, 7.0], [3.0, -1.0]]), np.ones((3, 2)), **kw), [2.0, -1.0])


@PARALLEL
def test_one_objective_row_against_many_weight_rows(Parallel):
    weights = A([[0.5, 0.5], [0.9, 0.1], [0.25, 1.0]])
    result = druvik(A([[2.0, 3.0]]), weights, A([1.0, 1.0]), Parallel=Parallel)
    assert_same(result, [[1.0], [0.9], [2.0]])


def test_one_row_kernel_agrees_with_row_kernel():
    ObjV = A([[2.0, 3.0], [5.0, 1.0]])
    weights = A([[0.9, 0.1], [0.3, 0.7]])
    z = A([1.0, 1.0])
    both = druvik(ObjV, weights, z)
    assert_same(both, [[0.9], [4 * 0.3]])
    assert_bytes_equal(druvik(ObjV[:1], weights[:1], z), both[:1])
    assert_bytes_equal(druvik(ObjV[1:], weights[1:], z), both[1:])


def test_one_objective_row_and_no_weight_rows():
    assert_same(druvik(A([[2.0, 3.0]]), np.empty((0, 2)), A([1.0, 1.0])), np.empty((0, 1)))


# ---- objective directions ----------------------------------------------------------------------


def test_maxormins_flips_the_working_matrix():
    ObjV = A([[1.0, 4.0], [3.0, 2.0]])
    weights = A([[0.5, 0.5], [0.9, 0.1]])
    maxormins = A([1, -1])
    assert_same(druvik(ObjV, weights, maxormins=maxormins), [1.0, -4.0])
    # the ideal point is taken as it is, in the space of the flipped objectives
    assert_same(druvik(ObjV, weights, A([0.0, -5.0]), maxormins=maxormins), [[0.5], [3 * 0.9]])
    assert_same(druvik(ObjV, weights, A([0.0, 5.0]), maxormins=maxormins), [[4.5], [3 * 0.9]])


@pytest.mark.parametrize(
    "maxormins, minima",
    [
        ([0, 2], [0.0, 4.0]),  # 0 zeroes its column, 2 doubles it
        ([2, 1], [2.0, 2.0]),
        ([-1, -1], [-3.0, -4.0]),
        ([1, 1], [1.0, 2.0]),
    ],
)
def test_maxormins_entries_applied_as_they_are(maxormins, minima):
    ObjV = A([[1.0, 4.0], [3.0, 2.0]])
    assert_same(druvik(ObjV, np.ones((2, 2)), maxormins=A(maxormins)), minima)


def test_maxormins_product_feeds_the_aggregation():
    ObjV = A([[1.0, 4.0], [3.0, 2.0]])
    result = druvik(ObjV, A([[1.0, 1.0], [1.0, 1.0]]), A([0.0, 0.0]), maxormins=A([0, 2]))
    assert_same(result, [[8.0], [4.0]])


# ---- the feasibility rule ---------------------------------------------------------------------


@pytest.mark.parametrize(
    "ObjV, CV, working",
    [
        pytest.param(
            [[1, 5], [3, 2], [2, 3]],
            [[0, 0, 0], [0.5, -3, 0.25], [0, nan, -1]],
            [[1, 5], [3.75, 5.75], [2, 3]],
            id="positive-violations-only",
        ),
        pytest.param(
            [[1, 5], [3, 2], [2, 3]], [[2], [0.5], [1]], [[5, 7], [3.5, 5.5], [4, 6]], id="all-infeasible"
        ),
        pytest.param([[1, 5], [3, 2], [2, 3]], [[0], [-1], [0]], [[1, 5], [3, 2], [2, 3]], id="all-feasible"),
        pytest.param([[1, 5], [3, 2], [2, 3]], np.empty((3, 0)), [[1, 5], [3, 2], [2, 3]], id="no-constraints"),
        pytest.param([[1, 5], [3, 2], [2, 3]], [[nan], [0], [-0.0]], [[1, 5], [3, 2], [2, 3]], id="nan-is-no-violation"),
        pytest.param([[4, 1]], [[1, 2]], [[7, 4]], id="single-row"),
    ],
)
def test_infeasible_rows_become_column_maxima_plus_violation(ObjV, CV, working):
    assert_same(working_matrix(ObjV, CV=A(CV, dtype=float)), np.abs(A(working, dtype=float)))


def test_infeasible_rows_rank_by_their_violation():
    ObjV = A([[1.0, 5.0], [3.0, 2.0], [2.0, 3.0], [0.0, 0.0]])
    CV = A([[2.0, 0.0], [0.25, 0.25], [1.0, -4.0], [3.0, 0.5]])
    result = druvik(ObjV, np.ones((4, 2)), A([0.0, 0.0]), CV)[:, 0]
    assert list(np.argsort(result)) == list(np.argsort([2.0, 0.5, 1.0, 3.5]))
    assert_same(result, [7.0, 5.5, 6.0, 8.5])


def test_maxima_are_taken_from_the_flipped_objectives():
    ObjV = A([[1.0, 5.0], [3.0, 2.0]])
    CV = A([[0.0], [1.0]])
    # product [[1, 10], [3, 4]]: maxima (3, 10), the infeasible row becomes (4, 11)
    assert_same(working_matrix(ObjV, CV=CV, maxormins=A([1, 2])), [[1.0, 10.0], [4.0, 11.0]])
    # product [[-1, 5], [-3, 2]]: maxima (-1, 5), the infeasible row becomes (0, 6)
    assert_same(druvik(ObjV, np.ones((2, 2)), CV=CV, maxormins=A([-1, 1])), [-1.0, 5.0])
    assert_same(druvik(ObjV, np.ones((2, 2)), CV=A([[1.0], [0.0]]), maxormins=A([-1, 1])), [-3.0, 2.0])


def test_penalty_reaches_the_ideal_point():
    ObjV = A([[1.0, 5.0], [3.0, 2.0]])
    assert_same(druvik(ObjV, np.ones((2, 2)), CV=A([[0.0], [1.0]])), [1.0, 5.0])
    assert_same(druvik(ObjV, np.ones((2, 2)), CV=A([[1.0], [1.0]])), [4.0, 6.0])


@pytest.mark.parametrize(
    "ObjV, CV, expected",
    [
        # a NaN in row 0 stays the maximum of its column: the penalised row becomes (NaN, 4)
        pytest.param([[nan, 1], [2, 3]], [[0], [1]], [[nan], [nan]], id="nan-in-first-row"),
        # a NaN in a later row is passed over: the penalised row becomes (3, 4)
        pytest.param([[2, 1], [nan, 3], [1, 1]], [[0], [0], [1]], [[2], [nan], [4]], id="nan-in-later-row"),
        pytest.param([[2, nan], [1, 1], [0, 0]], [[0], [0], [1]], [[2], [1], [3]], id="nan-in-first-row-later-column"),
        pytest.param([[1, 2], [7, 0], [4, 4]], [[0], [0], [inf]], [[2], [7], [inf]], id="infinite-violation"),
        pytest.param([[1, 2], [-inf, 0], [4, 4]], [[0], [0], [1]], [[2], [inf], [5]], id="minus-infinity-below-the-maximum"),
        pytest.param([[1, 2], [inf, 0], [4, 4]], [[0], [0], [1]], [[2], [inf], [inf]], id="infinity-is-the-maximum"),
    ],
)
def test_non_finite_values_in_the_penalty(ObjV, CV, expected):
    ObjV = A(ObjV, dtype=float)
    result = druvik(ObjV, np.ones(ObjV.shape), np.zeros(ObjV.shape[1]), A(CV, dtype=float))
    assert_same(result, expected)


# ---- the running maximum ----------------------------------------------------------------------


@pytest.mark.parametrize("rows", [1, 3], ids=["one-row-kernel", "row-kernel"])
@pytest.mark.parametrize(
    "F, w, z, expected",
    [
        pytest.param([nan, 5], [1, 1], [0, 0], nan, id="nan-in-column-0-stays"),
        pytest.param([5, nan], [1, 1], [0, 0], 5.0, id="later-nan-passed-over"),
        pytest.param([5, 1, nan, 2], [1, 1, 1, 1], [0, 0, 0, 0], 5.0, id="middle-nan-passed-over"),
        pytest.param([inf, 1], [0, 1], [0, 0], nan, id="inf-times-zero-in-column-0"),
        pytest.param([1, inf], [1, 0], [0, 0], 1.0, id="inf-times-zero-later"),
        pytest.param([1, 2], [1, 1], [0, nan], 1.0, id="nan-ideal-coordinate-later"),
        pytest.param([1, 2], [nan, 1], [0, 0], nan, id="nan-weight-first"),
        pytest.param([1, 1], [-1, 1], [1, 1], -0.0, id="negative-zero-kept"),
        pytest.param([1, 1], [1, -1], [1, 1], 0.0, id="positive-zero-kept"),
        pytest.param([3, -4], [-1, -1], [0, 0], -3.0, id="negative-weights"),
        pytest.param([1, -4], [0.5, 0.5], [0, 0], 2.0, id="absolute-difference"),
        pytest.param([7], [0.25], [-1], 2.0, id="single-objective"),
        pytest.param([inf, 1], [1, 1], [inf, 0], nan, id="inf-minus-inf"),
    ],
)
def test_running_maximum_is_strict(rows, F, w, z, expected):
    ObjV = np.tile(A([F], dtype=float), (rows, 1))
    weights = np.tile(A([w], dtype=float), (rows, 1))
    if rows == 1:
        weights = np.tile(weights, (3, 1))  # one objective row against three weight rows
    result = druvik(ObjV, weights, A(z, dtype=float))
    assert_same(result, np.full((3, 1), expected))


# ---- checks and their order ---------------------------------------------------------------------


class NoArray:
    """Has the attributes the CV checks read, and nothing else an array has."""

    ndim = 2
    shape = (2, 1)


X = A([[1.0, 4.0], [3.0, 2.0]])
W = A([[0.5, 0.5], [0.9, 0.1]])
Z = A([1.0, 2.0])
STRINGS = A([["a", "b"], ["c", "d"]])

CHECKS = [
    # Parallel
    ("Parallel-int", dict(Parallel=1), RuntimeError, "Parallel"),
    # ObjV
    ("ObjV-list", dict(ObjV=[[1.0, 4.0], [3.0, 2.0]]), RuntimeError, "ObjV"),
    ("ObjV-tuple", dict(ObjV=((1.0, 4.0), (3.0, 2.0))), RuntimeError, "ObjV"),
    ("ObjV-None", dict(ObjV=None), RuntimeError, "ObjV"),
    ("ObjV-1d", dict(ObjV=A([1.0, 4.0])), RuntimeError, "ObjV"),
    ("ObjV-3d", dict(ObjV=np.ones((2, 2, 1))), RuntimeError, "ObjV"),
    ("ObjV-0d", dict(ObjV=A(1.0)), RuntimeError, "ObjV"),
    ("ObjV-strings", dict(ObjV=STRINGS), ValueError, None),
    # weights
    ("weights-list", dict(weights=[[0.5, 0.5], [0.9, 0.1]]), RuntimeError, "weights"),
    ("weights-None", dict(weights=None), RuntimeError, "weights"),
    ("weights-1d", dict(weights=A([0.5, 0.5])), RuntimeError, "weights"),
    ("weights-3d", dict(weights=np.ones((2, 2, 1))), RuntimeError, "weights"),
    ("weights-columns", dict(weights=np.ones((2, 3))), RuntimeError, "disagree"),
    ("weights-one-column", dict(weights=np.ones((2, 1))), RuntimeError, "disagree"),
    ("weights-rows", dict(weights=np.ones((3, 2))), RuntimeError, "disagree"),
    ("weights-one-row", dict(weights=np.ones((1, 2))), RuntimeError, "disagree"),
    ("ObjV-3-rows-weights-2", dict(ObjV=np.ones((3, 2))), RuntimeError, "disagree"),
    ("ObjV-0-rows-weights-2", dict(ObjV=np.ones((0, 2))), RuntimeError, "disagree"),
    ("one-row-weights-columns", dict(ObjV=np.ones((1, 2)), weights=np.ones((4, 3))), RuntimeError, "disagree"),
    ("weights-strings", dict(weights=STRINGS), ValueError, None),
    # maxormins
    ("maxormins-list", dict(maxormins=[1, -1]), RuntimeError, "maxormins"),
    ("maxormins-tuple", dict(maxormins=(1, -1)), RuntimeError, "maxormins"),
    ("maxormins-2d", dict(maxormins=A([[1, -1]])), RuntimeError, "maxormins"),
    ("maxormins-0d", dict(maxormins=A(1)), RuntimeError, "maxormins"),
    ("maxormins-short", dict(maxormins=A([1])), RuntimeError, "maxormins"),
    ("maxormins-long", dict(maxormins=A([1, 1, 1])), RuntimeError, "maxormins"),
    ("maxormins-strings", dict(maxormins=A(["a", "b"])), ValueError, None),
    # CV
    ("CV-1d", dict(CV=A([0.0, 0.0])), RuntimeError, "CV"),
    ("CV-3d", dict(CV=np.zeros((2, 1, 1))), RuntimeError, "CV"),
    ("CV-rows", dict(CV=np.zeros((3, 1))), RuntimeError, "CV"),
    ("CV-0d", dict(CV=np.float64(0.0)), RuntimeError, "CV"),
    ("CV-list", dict(CV=[[0.0], [1.0]]), AttributeError, None),
    ("CV-float", dict(CV=0.0), AttributeError, None),
    ("CV-not-an-array", dict(CV=NoArray()), AttributeError, None),
    ("CV-strings", dict(CV=STRINGS), ValueError, None),
    # idealPoint
    ("idealPoint-list", dict(idealPoint=[1.0, 2.0]), RuntimeError, "idealPoint"),
    ("idealPoint-tuple", dict(idealPoint=(1.0, 2.0)), RuntimeError, "idealPoint"),
    ("idealPoint-2d", dict(idealPoint=A([[1.0, 2.0]])), RuntimeError, "idealPoint"),
    ("idealPoint-column", dict(idealPoint=A([[1.0], [2.0]])), RuntimeError, "idealPoint"),
    ("idealPoint-0d", dict(idealPoint=A(1.0)), RuntimeError, "idealPoint"),
    ("idealPoint-float", dict(idealPoint=1.0), RuntimeError, "idealPoint"),
    ("idealPoint-short", dict(idealPoint=A([1.0])), RuntimeError, "idealPoint_length"),
    ("idealPoint-long", dict(idealPoint=A([1.0, 2.0, 3.0])), RuntimeError, "idealPoint_length"),
    ("idealPoint-empty", dict(idealPoint=np.empty(0)), RuntimeError, "idealPoint_length"),
    ("idealPoint-strings", dict(idealPoint=A(["a", "b"])), ValueError, None),
    # an earlier argument's failure wins
    ("Parallel-before-ObjV", dict(Parallel=0, ObjV=[[1.0]]), RuntimeError, "Parallel"),
    ("Parallel-before-everything",
     dict(Parallel="True", ObjV=None, weights=None, idealPoint=[1.0], CV=[1], maxormins=[1]), RuntimeError, "Parallel"),
    ("ObjV-before-weights", dict(ObjV=[[1.0]], weights=[1.0]), RuntimeError, "ObjV"),
    ("ObjV-conversion-before-weights", dict(ObjV=STRINGS, weights=[1.0]), ValueError, None),
    ("weights-before-maxormins", dict(weights=[1.0], maxormins=[1]), RuntimeError, "weights"),
    ("disagree-before-maxormins", dict(weights=np.ones((2, 3)), maxormins=[1]), RuntimeError, "disagree"),
    ("disagree-before-weights-conversion", dict(weights=A([["a", "b", "c"]] * 2)), RuntimeError, "disagree"),
    ("weights-conversion-before-maxormins", dict(weights=STRINGS, maxormins=[1]), ValueError, None),
    ("maxormins-before-CV", dict(maxormins=[1], CV=A([0.0, 0.0])), RuntimeError, "maxormins"),
    ("maxormins-before-CV-lookup", dict(maxormins=[1], CV=[[0.0]]), RuntimeError, "maxormins"),
    ("CV-before-idealPoint", dict(CV=A([0.0, 0.0]), idealPoint=[1.0, 2.0]), RuntimeError, "CV"),
    ("CV-lookup-before-idealPoint", dict(CV=[[0.0], [0.0]], idealPoint=[1.0, 2.0]), AttributeError, None),
    ("CV-conversion-before-idealPoint", dict(CV=A([["a"], ["b"]]), idealPoint=[1.0, 2.0]), ValueError, None),
    ("idealPoint-type-before-length", dict(idealPoint=[1.0]), RuntimeError, "idealPoint"),
]


@pytest.mark.parametrize("overrides, exception, message", [c[1:] for c in CHECKS], ids=[c[0] for c in CHECKS])
def test_checks(overrides, exception, message):
    kwargs = dict(ObjV=X, weights=W, idealPoint=Z)
    kwargs.update(overrides)
    with pytest.raises(Exception) as info:
        druvik(**kwargs)
    assert type(info.value) is exception, repr(info.value)
    if message is not None:
        assert info.value.args == (MESSAGES[message],)


@pytest.mark.parametrize(
    "overrides",
    [
        dict(idealPoint=None),
        dict(ObjV=np.ones((1, 2)), weights=np.ones((5, 2))),
        dict(maxormins=None, CV=None, Parallel=None),
        dict(maxormins=A([1, 1]), CV=np.zeros((2, 0)), Parallel=False),
    ],
    ids=["no-ideal-point", "one-row", "defaults", "all-given"],
)
def test_valid_combinations(overrides):
    kwargs = dict(ObjV=X, weights=W, idealPoint=Z)
    kwargs.update(overrides)
    assert isinstance(druvik(**kwargs), np.ndarray)


# ---- empty matrices ---------------------------------------------------------------------------


@PARALLEL
@pytest.mark.parametrize("options", [{}, {"CV": np.ones((0, 3))}, {"maxormins": A([1, -1])}], ids=["plain", "CV", "maxormins"])
def test_no_rows_with_ideal_point(Parallel, options):
    result = druvik(np.empty((0, 2)), np.empty((0, 2)), A([0.0, 0.0]), Parallel=Parallel, **options)
    assert_same(result, np.empty((0, 1)))


def test_no_rows_without_ideal_point_raises_numpys_error():
    with pytest.raises(ValueError) as info:
        druvik(np.empty((0, 2)), np.empty((0, 2)))
    assert type(info.value) is ValueError
    assert "zero-size array" in str(info.value)


@PARALLEL
@pytest.mark.parametrize(
    "rows, weight_rows, options",
    [
        (2, 2, {}),
        (3, 3, {"CV": A([[1.0], [0.0], [2.0]])}),
        (2, 2, {"maxormins": np.empty(0, dtype=np.int32)}),
        (1, 4, {}),
        (1, 1, {}),
    ],
)
def test_no_columns_aggregate_to_zero(Parallel, rows, weight_rows, options):
    result = druvik(np.empty((rows, 0)), np.empty((weight_rows, 0)), np.empty(0), Parallel=Parallel, **options)
    assert_same(result, np.zeros((weight_rows, 1)))


def test_no_columns_without_ideal_point():
    assert_same(druvik(np.empty((3, 0)), np.empty((3, 0))), np.empty(0))


# ---- counts beyond 32 bits ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "shape, options",
    [
        ((2**31, 0), {"maxormins": np.empty(0, dtype=np.int32)}),
        ((2**31, 0), {"CV": np.empty((2**31, 0))}),
        ((0, 2**31), {"CV": np.empty((0, 3))}),
    ],
    ids=["rows-maxormins", "rows-CV", "columns-CV"],
)
def test_counts_too_large_for_the_kernels(shape, options):
    # zero-sized matrices whose other dimension does not fit a 32-bit int
    with pytest.raises(OverflowError, match="^value too large to convert to int$"):
        druvik(np.empty(shape), np.empty(shape), **options)


# ---- against the NumPy model --------------------------------------------------------------------


@pytest.mark.parametrize("Parallel", [False, True])
@pytest.mark.parametrize(
    "Nind, K, Lind, use_cv, use_signs, nans",
    [
        (6, 6, 3, False, False, False),
        (6, 6, 3, True, False, False),
        (6, 6, 3, False, True, False),
        (9, 9, 4, True, True, False),
        (9, 9, 4, True, True, True),
        (1, 7, 5, False, False, False),
        (1, 7, 5, True, True, True),
        (8, 8, 1, True, True, False),
        (300, 300, 7, True, True, True),
    ],
)
def test_matches_the_model(Parallel, Nind, K, Lind, use_cv, use_signs, nans):
    rng = np.random.default_rng(Nind * 1000 + K * 10 + Lind + 7 * use_cv + 3 * use_signs + nans)
    ObjV = rng.normal(size=(Nind, Lind)) * 10
    weights = rng.uniform(size=(K, Lind))
    z = rng.normal(size=Lind)
    CV = rng.normal(size=(Nind, 3)) if use_cv else None
    maxormins = rng.choice(A([1, -1, 2, 0], dtype=np.int32), size=Lind) if use_signs else None
    if nans and CV is not None:
        ObjV[rng.uniform(size=ObjV.shape) < 0.1] = nan
        CV[rng.uniform(size=CV.shape) < 0.1] = nan
    expected = reference(ObjV, weights, z, CV, maxormins)
    result = druvik(ObjV, weights, z, CV, maxormins, Parallel)
    assert_same(result, expected)
    assert_bytes_equal(result, druvik(ObjV, weights, z, CV, maxormins, not Parallel))
