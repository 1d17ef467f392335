"""ndsort, crowding and associate: fronts, crowding distances and reference-line association
against their rules written out plainly (tests/_support.py)."""

import itertools

import numpy as np
import pytest

from _support import assert_bytes_equal, assert_same, plain_associate, plain_crowding, plain_ndsort
from evocore import associate, crowding, ndsort

nan, inf = np.nan, np.inf


def rng(seed):
    return np.random.default_rng(seed)


def sphere(n, m, seed=0):
    """Points on the positive part of the unit sphere: every one on the first front."""
    X = np.abs(rng(seed).normal(size=(n, m)))
    return X / np.linalg.norm(X, axis=1, keepdims=True)


def with_rows(X, rows, value):
    X = np.array(X, dtype=float)
    X[rows] = value
    return X


def ties(n, m, seed=0, high=4):
    return rng(seed).integers(0, high, (n, m)).astype(float)


# ---- ndsort ----------------------------------------------------------------------------------------

# name -> (ObjV, CV, maxormins, needNum); the sizes reach every method (one and two objectives swept,
# three on staircases, four and more on bitsets, in more than one block past 2788 rows).
NDSORT = {
    "empty": (np.empty((0, 3)), None, None, None),
    "no objectives": (np.empty((5, 0)), None, None, None),
    "one objective, ties": (ties(40, 1), None, None, None),
    "two, random": (rng(1).random((300, 2)), None, None, None),
    "two, ties": (ties(300, 2), None, None, None),
    "three, random": (rng(2).random((400, 3)), None, None, None),
    "three, ties": (ties(400, 3, high=5), None, None, None),
    "three, one front": (sphere(300, 3), None, None, None),
    "three, plane": (np.column_stack([np.arange(200.0), *(lambda u: (u, 1 - u))(rng(3).random(200))]), None, None,
                     None),
    "four, random": (rng(4).random((400, 4)), None, None, None),
    "five, ties": (ties(400, 5, high=3), None, None, None),
    "five, one front": (sphere(300, 5), None, None, None),
    "six, a chain": (np.repeat(rng(5).random((200, 1)), 6, axis=1), None, None, None),
    "four, two blocks": (rng(6).random((3000, 4)), None, None, None),
    "four, two blocks of ties": (ties(3000, 4, high=6), None, None, None),
    "zeros of both signs": (np.array([[0.0, -0.0, 1.0], [-0.0, 0.0, 1.0], [0.0, 1.0, -0.0]]), None, None, None),
    "infinities": (with_rows(ties(60, 3), [3, 7, 11], [inf, -inf, 0.0]), None, None, None),
    "NaN rows": (with_rows(ties(60, 4), [2, 9], nan), None, None, None),
    "maxormins": (ties(200, 3), None, np.array([1, -1, 1]), None),
    "maxormins 0 and 2": (ties(200, 4), None, np.array([0, 2, 1, -1]), None),
    "CV": (ties(200, 3), rng(7).integers(-1, 3, (200, 2)).astype(float), None, None),
    "CV with NaN and inf": (ties(100, 2), with_rows(rng(8).integers(-2, 2, (100, 3)), [1, 5, 6], [nan, inf, 0.5]),
                            None, None),
    "CV, every row infeasible": (ties(50, 3), rng(9).integers(1, 4, (50, 1)).astype(float), None, None),
    "needNum 1": (rng(10).random((200, 3)), None, None, 1),
    "needNum two": (rng(11).random((200, 2)), None, None, 60),
    "needNum four": (ties(500, 4), None, None, 250),
    "needNum every row": (ties(100, 3), None, None, 100),
    "needNum into the infeasible": (ties(100, 2), rng(12).integers(-3, 2, (100, 1)).astype(float), None, 90),
    "needNum, NaN and directions": (with_rows(ties(300, 5), [0, 4], nan), None, np.array([-1, 1, 1, -1, 1]), 150),
}


@pytest.mark.parametrize("case", NDSORT)
def test_ndsort_fronts_follow_the_definition(case):
    ObjV, CV, maxormins, needNum = NDSORT[case]
    levels, nfronts = plain_ndsort(ObjV, CV, maxormins, needNum)
    for Parallel in (False, True):
        got, count = ndsort(ObjV, CV, maxormins, needNum, Parallel)
        assert_same(got, levels)
        assert type(count) is int and count == nfronts


def test_ndsort_needNum_takes_numpy_integers_and_keywords():
    X = rng(14).random((50, 3))
    expected = ndsort(X, None, None, 20)
    for needNum in (np.int64(20), np.int32(20), np.uint8(20), np.array(20)):
        assert_bytes_equal(ndsort(X, needNum=needNum)[0], expected[0])
    assert ndsort(Parallel=None, needNum=20, ObjV=X)[1] == expected[1]


# ---- crowding ----------------------------------------------------------------------------------------

CROWDING = {
    "one front": (rng(20).random((100, 3)), np.ones(100)),
    "fronts": (rng(21).random((300, 2)), ndsort(rng(21).random((300, 2)))[0]),
    "fronts of one and two rows": (rng(22).random((5, 2)), np.array([1.0, 2.0, 2.0, 3.0, 3.0])),
    "levels of any finite value": (rng(23).random((9, 2)), np.array([-1.5, 0.0, -0.0, 7.0, 0.0, -1.5, 7.0, 7.0, -1.5])),
    "rows left out": (rng(24).random((8, 2)), np.array([1.0, inf, 1.0, nan, 1.0, -inf, 1.0, 1.0])),
    "ties": (ties(200, 3, high=3), np.ones(200)),
    "a constant objective": (np.column_stack([np.ones(30), rng(25).random(30)]), np.ones(30)),
    "zeros of both signs": (np.array([[0.0, 1.0], [-0.0, 2.0], [0.0, 3.0], [-0.0, 0.0]]), np.ones(4)),
    "NaN and infinities": (with_rows(rng(26).random((40, 3)), [3, 8, 9], [nan, inf, -inf]), np.ones(40)),
    "no objectives": (np.empty((4, 0)), np.ones(4)),
    "no rows": (np.empty((0, 3)), np.empty(0)),
    "large front": (rng(27).random((3000, 4)), np.ones(3000)),
    "front past the sort by wider digits": (with_rows(ties(20000, 2, high=9000), [5, 6], [nan, -inf]), np.ones(20000)),
}


@pytest.mark.parametrize("case", CROWDING)
def test_crowding_follows_the_rule(case):
    ObjV, levels = CROWDING[case]
    with np.errstate(all="ignore"):
        assert_same(crowding(ObjV, levels), plain_crowding(ObjV, levels))


# ---- associate -----------------------------------------------------------------------------------------


def lattice(m, h):
    """The simplex-lattice reference points of NSGA-III: m coordinates in steps of 1/h."""
    return np.array([c for c in itertools.product(range(h + 1), repeat=m) if sum(c) == h]) / h


ASSOCIATE = {
    "NSGA-III's lattice": (rng(30).random((203, 3)), lattice(3, 12)),
    "one reference": (rng(31).random((10, 4)), np.array([[1.0, 2.0, 3.0, 4.0]])),
    "one objective": (rng(32).normal(size=(7, 1)), np.array([[2.0], [-1.0]])),
    "equal distances": (np.array([[1.0, 1.0], [2.0, 0.0], [0.0, 0.0]]), np.array([[1.0, 0.0], [0.0, 1.0], [3.0, 0.0]])),
    "NaN and infinities": (with_rows(rng(33).random((9, 3)), [1, 4, 5], [nan, inf, -inf]), lattice(3, 4)),
    "huge values": (rng(34).random((6, 2)) * 1e200, np.array([[1.0, 1.0], [1.0, 3.0]])),
    "many objectives": (rng(35).random((50, 8)), rng(36).random((20, 8))),
    "no rows": (np.empty((0, 3)), np.eye(3)),
}


@pytest.mark.parametrize("case", ASSOCIATE)
def test_associate_follows_the_rule(case):
    ObjV, refpoints = ASSOCIATE[case]
    index, distance = associate(ObjV, refpoints)
    with np.errstate(all="ignore"):
        want_index, want_distance = plain_associate(ObjV, refpoints)
    assert index.dtype == np.int32 and np.array_equal(index, want_index)
    assert_same(distance, want_distance)


# ---- errors --------------------------------------------------------------------------------------------

X = np.ones((3, 2))
ERRORS = [
    (ndsort, (X, None, None, None, 1), "ndsort: Parallel must be None, True or False."),
    (ndsort, ([[1.0, 2.0]], None, None, None, 1), "ndsort: Parallel must be None, True or False."),
    (ndsort, ([[1.0, 2.0]],), "ndsort: ObjV must be a 2-D Numpy ndarray."),
    (ndsort, (np.ones(3),), "ndsort: ObjV must be a 2-D Numpy ndarray."),
    (ndsort, (X, None, np.ones(3)), "ndsort: maxormins must be a 1-D Numpy ndarray with one entry per column of ObjV."),
    (ndsort, (X, None, [1, 1]), "ndsort: maxormins must be a 1-D Numpy ndarray with one entry per column of ObjV."),
    (ndsort, (X, np.ones((2, 1)), np.ones(3)),
     "ndsort: maxormins must be a 1-D Numpy ndarray with one entry per column of ObjV."),
    (ndsort, (X, np.ones((2, 1))), "ndsort: CV must be a 2-D Numpy ndarray with one row per row of ObjV."),
    (ndsort, (X, np.ones(3)), "ndsort: CV must be a 2-D Numpy ndarray with one row per row of ObjV."),
    (ndsort, (X, [[0.0]] * 3, None, 0), "ndsort: CV must be a 2-D Numpy ndarray with one row per row of ObjV."),
    *[(ndsort, (X, None, None, n), "ndsort: needNum must be None or an integer from 1 to the number of rows of ObjV.")
      for n in (0, 4, -1, 2**70, True, np.bool_(True), 2.0, "2", [2])],
    (ndsort, (np.empty((0, 2)), None, None, 1),
     "ndsort: needNum must be None or an integer from 1 to the number of rows of ObjV."),
    (crowding, ([[1.0]], np.ones(1)), "crowding: ObjV must be a 2-D Numpy ndarray."),
    (crowding, (X, np.ones(2)), "crowding: levels must be a 1-D Numpy ndarray with one entry per row of ObjV."),
    (crowding, (X, np.ones((3, 1))), "crowding: levels must be a 1-D Numpy ndarray with one entry per row of ObjV."),
    (crowding, (X, [1.0, 1.0, 1.0]), "crowding: levels must be a 1-D Numpy ndarray with one entry per row of ObjV."),
    (associate, (np.ones(2), np.eye(2)), "associate: ObjV must be a 2-D Numpy ndarray."),
    *[(associate, (X, W), "associate: refpoints must be a 2-D Numpy ndarray with at least one row and one column "
                          "per column of ObjV.") for W in (np.eye(3), np.empty((0, 2)), np.ones(2), [[1.0, 0.0]])],
    *[(associate, (X, W), "associate: every row of refpoints must have a positive finite length.")
      for W in (np.array([[1.0, 0.0], [0.0, 0.0]]), np.array([[nan, 1.0]]), np.array([[inf, 1.0]]),
                np.array([[1e-200, 0.0]]), np.array([[1e200, 1e200]]), np.zeros((1, 2)))],
]


@pytest.mark.parametrize("function, args, message", ERRORS, ids=range(len(ERRORS)))
def test_errors_in_order(function, args, message):
    arrays = [a.copy() for a in args if isinstance(a, np.ndarray)]
    with pytest.raises(RuntimeError) as info:
        function(*args)
    assert type(info.value) is RuntimeError and info.value.args == (f"error in {message}",)
    assert [a.tobytes() for a in arrays] == [a.tobytes() for a in args if isinstance(a, np.ndarray)]


def test_associate_with_many_objectives_in_memory_of_its_own_alignment():
    # beyond eight objectives a row block's lanes are kept in memory allocated per call, which the
    # wide form moves with instructions that need it aligned to the vector's size
    rng = np.random.default_rng(5)
    for m in (9, 12, 20):
        F, W = rng.random((5, m)), rng.random((7, m)) + 0.1
        index, distance = associate(F, W)
        for _ in range(100):
            again = associate(F, W)
            assert np.array_equal(again[0], index) and np.array_equal(again[1], distance)
