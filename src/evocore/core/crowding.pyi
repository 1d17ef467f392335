from typing import Any

import numpy as np
from numpy.typing import NDArray

def crowding(ObjV: NDArray[Any], levels: NDArray[Any]) -> NDArray[np.float64]:
    """The crowding distance of NSGA-II: for every row of ObjV, how much room its neighbours
    in its own front leave around it.

    The rows of one finite level form a front (in increasing row order).  In a front of one or
    two rows every row gets ``inf``.  Otherwise each row starts at 0.0 and, objective by
    objective from the left, the front's rows are ordered by that objective's value (NaN after
    every number, ties by row index): unless the largest and the smallest value are equal, the
    first and the last row of that order become ``inf`` and every row between adds
    ``(next - previous) / (largest - smallest)``, computed in that order.  Rows whose level is
    not finite (``inf`` from ``ndsort``'s needNum, or NaN) get 0.

    Args:
        ObjV: (N, M) objective matrix; any real dtype and layout.  The values are used as
            given (no maxormins).
        levels: 1-D, N entries: the front of every row, for example ``ndsort(ObjV)[0]``.

    Returns:
        A new 1-D float64 array of N distances.

    Raises:
        RuntimeError: ``error in crowding: ...`` when ObjV is not a 2-D ndarray, or levels is
            not a 1-D ndarray of N entries, checked in that order.
        MemoryError: scratch memory could not be allocated.

    Note:
        Unlike some libraries, the sum is not divided by the number of objectives and equal
        rows are not merged: each keeps its own place in the order.

    Examples:
        >>> F = np.array([[0.0, 4.0], [1.0, 2.0], [2.0, 1.5], [4.0, 0.0], [3.0, 3.0]])
        >>> crowding(F, np.array([1.0, 1.0, 1.0, 1.0, 2.0]))
        array([  inf, 1.125, 1.25 ,   inf,   inf])
    """
