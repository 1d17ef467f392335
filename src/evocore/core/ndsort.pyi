from typing import Any

import numpy as np
from numpy.typing import NDArray

def ndsort(
    ObjV: NDArray[Any],
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    needNum: int | None = None,
    Parallel: bool | None = False,
) -> tuple[NDArray[np.float64], int]:
    """Non-dominated sorting: the front of every row of ObjV, as NSGA-II and NSGA-III rank
    their populations.

    Objectives are minimised after multiplication by ``maxormins``.  A row dominates another
    when it is no larger in every objective and smaller in at least one; equal rows share a
    front, ``-0.0`` equals ``0.0`` and infinities compare as numbers.  With ``CV``, the
    feasibility rule: a row's violation is the sum, column by column from the left, of its
    positive CV entries; the rows of violation 0 are sorted by dominance, and the others follow
    every feasible front, one front per distinct violation, in ascending order.  A row with a
    NaN in its objectives (after ``maxormins``) or its CV row counts as infeasible with
    violation ``inf``, so it never ranks above a row without NaN.

    Args:
        ObjV: (N, M) objective matrix, one row per individual; any real dtype and layout.
        CV: (N, k) constraint violations, positive entries violated; ``None``: all feasible.
        maxormins: 1-D, M entries: 1 for a minimised, -1 for a maximised objective (truncated
            to int32, as in the other operators).
        needNum: rank fronts in order until at least this many rows are ranked (1 ... N, an
            int or a NumPy integer); the rows of later fronts get ``inf``.  ``None``: all.
        Parallel: ``True`` builds the dominance relation of four or more objectives on the
            thread team (the same levels).

    Returns:
        ``(levels, nfronts)``: a new 1-D float64 array with 1.0 for the rows of the first
            front, 2.0 for the second, ... and ``inf`` for rows left unranked; and the number
            of fronts ranked, a Python int.  No rows: an empty array and 0.

    Raises:
        RuntimeError: ``error in ndsort: ...`` when Parallel is not None/True/False, ObjV is
            not a 2-D ndarray, maxormins is not a 1-D ndarray of M entries, CV is not a 2-D
            ndarray of N rows, or needNum is not None or an integer from 1 to N (a bool or a
            float is refused), checked in that order.
        MemoryError: scratch memory could not be allocated.

    Note:
        Two objectives are swept in O(N log N); three keep a staircase per front
        (O(N log^2 N)); four or more build each row's set of dominators as a bitset
        (O(M N^2 / 64) word operations).  The method changes the speed, never the levels.

    Examples:
        >>> F = np.array([[1.0, 4.0], [2.0, 2.0], [3.0, 3.0], [4.0, 1.0], [2.0, 2.0]])
        >>> ndsort(F)
        (array([1., 1., 2., 1., 1.]), 2)
        >>> ndsort(F, np.array([[0.0], [0.0], [0.0], [0.5], [0.0]]), needNum=4)
        (array([ 1.,  1.,  2., inf,  1.]), 2)
        >>> ndsort(F, maxormins=np.array([1, -1]))[0]
        array([1., 2., 2., 3., 2.])
    """
