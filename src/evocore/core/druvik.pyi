from typing import Any

import numpy as np
from numpy.typing import NDArray

def druvik(
    ObjV: NDArray[Any],
    weights: NDArray[Any],
    idealPoint: NDArray[Any] | None = None,
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    Parallel: bool | None = False,
) -> NDArray[np.float64]:
    """Weighted Chebyshev (Tchebycheff) aggregation of MOEA/D: one value per row of ObjV,
    ``max_j weights[i, j] * |ObjV[i, j] - idealPoint[j]|``.

    Without ``idealPoint`` nothing is aggregated: the result is then the ideal point of the
    working matrix (its column minima, 1-D), not a column of values.  Pass an ideal point (for
    example from ``ornavi``) to aggregate.

    Args:
        ObjV: (N, M) objective matrix, one row per individual, one column per objective; any
            real dtype and layout (read as C-ordered float64, never written).
        weights: (N, M) weight vectors, one per row of ObjV; with a one-row ObjV, any number K
            of weight rows, each applied to that row.
        idealPoint: 1-D, M coordinates, in the space of the working matrix (after
            ``maxormins``; it is not transformed).  ``None``: return the ideal point instead.
        CV: (N, k) constraint violations, positive entries violated.  A row whose positive
            entries sum to s > 0 is replaced by the column maxima of the working matrix plus s
            before the aggregation (the feasibility rule), so with an ideal point below the
            rows, every infeasible row aggregates worse than every feasible one, and infeasible
            rows compare by s.
        maxormins: 1-D, M entries: 1 for a minimised, -1 for a maximised objective; the columns
            are multiplied by it and results stay in that sign-normalised space.
        Parallel: ``True`` runs the aggregation on the thread team (the same bits);
            ``None`` or ``False`` on the calling thread.

    Returns:
        An (N, 1) float64 column (K rows with a one-row ObjV); the 1-D ideal point when
            ``idealPoint`` is ``None``.

    Raises:
        RuntimeError: ``error in druvik: ...`` (English, then Chinese) when Parallel is not
            None, True or False, ObjV or weights is not a 2-D ndarray (a list is refused
            too), weights does not match ObjV in columns (or in rows, unless ObjV has one
            row), maxormins is not a 1-D ndarray of M entries, CV is not 2-D with N rows, or
            idealPoint is not a 1-D ndarray of M entries.  The checks run in that order and
            the first failure ends the call; "see help()" in a message refers to this text.
        AttributeError: a CV that is not an array (a list: no ``ndim``); a CV of another
            number of dimensions gets the RuntimeError above.
        MemoryError: the feasibility rule's scratch vector cannot be allocated.
        ValueError: from NumPy, for the ideal point of an ObjV without rows.

    Note:
        Only a strictly greater term replaces the running maximum: a NaN in the first column
        stays the row's value, a NaN in a later column is passed over.  With zero objectives
        (M = 0 and a 0-length idealPoint) every row gives 0.0.

    Examples:
        >>> ObjV = np.array([[1.0, 4.0], [3.0, 2.0]])
        >>> weights = np.array([[0.5, 0.5], [0.9, 0.1]])
        >>> druvik(ObjV, weights, np.array([1.0, 2.0]))
        array([[1. ],
               [1.8]])
        >>> druvik(ObjV, weights)             # no idealPoint: the ideal point itself
        array([1., 2.])
    """
