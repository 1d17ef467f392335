from typing import Any

import numpy as np
from numpy.typing import NDArray

def ornavi(
    ObjV: NDArray[Any],
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    old_idealPoint: NDArray[Any] | None = None,
    reverse: bool | None = False,
) -> NDArray[np.float64]:
    """The ideal point of a population: for each objective the best value any row reaches
    (the column minimum; the maximum with ``reverse=True``), optionally merged with a previous
    ideal point.

    Args:
        ObjV: (N, M) objective matrix, one row per individual; any real dtype and layout.
        CV: (N, k) constraint violations, positive entries violated.  Infeasible rows are
            replaced by the column maxima plus their summed violation first, so while at least
            one row is feasible they never set a coordinate (without ``reverse``); when none
            is, each coordinate is the column maximum plus the smallest violation.
        maxormins: 1-D, M entries: 1 minimised, -1 maximised.  The point stays in that
            sign-normalised space (a maximised objective's coordinate is the negated maximum).
        old_idealPoint: 1-D, at least M entries (the first M are used): the previous point.
            The result is the element-wise better of it and the population's point (the old
            value on a tie; a NaN in the old point is replaced).
        reverse: ``True``: larger is better (column maxima, element-wise larger merge).

    Returns:
        A new 1-D float64 array of M coordinates.  Without ``old_idealPoint`` it equals
            ``np.min(working matrix, 0)`` bit for bit (``np.max`` with ``reverse``): a NaN in a
            column gives NaN, and of +0.0 and -0.0 the later row's is kept.

    Raises:
        RuntimeError: ``error in ornavi: ...`` when reverse is not None/True/False, ObjV is not
            a 2-D ndarray, maxormins is not a 1-D ndarray of M entries, CV is not 2-D with N
            rows, or old_idealPoint is not a 1-D ndarray or is shorter than M, in that order.
        AttributeError: a CV that is not an array (a list: no ``ndim``).
        MemoryError: the feasibility rule's scratch vector cannot be allocated.
        ValueError: from NumPy, for an ObjV without rows.

    Examples:
        >>> ObjV = np.array([[1.0, 5.0], [2.0, 3.0]])
        >>> ornavi(ObjV)
        array([1., 3.])
        >>> ornavi(ObjV, maxormins=np.array([1, -1]))
        array([ 1., -5.])
        >>> ornavi(ObjV, old_idealPoint=np.array([0.0, 4.0]))
        array([0., 3.])
    """
