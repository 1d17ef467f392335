from typing import Any

import numpy as np
from numpy.typing import NDArray

def ulvaro(
    ObjV: NDArray[Any],
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    k: float | None = 1,
) -> NDArray[np.float64]:
    """Power-law fitness of a single-objective column: ``((max - v) / (max - min)) ** k``, so
    the best (smallest) value gets 1.0 and the worst 0.0.

    Args:
        ObjV: (N, 1) objective column (any real dtype); never written.
        CV: (N, c) 2-D constraint violations, positive entries violated: infeasible rows are
            replaced by the column maximum plus their summed violation first (the feasibility
            rule), so every feasible row is fitter than every infeasible one.
        maxormins: 1-D, one entry: 1 minimised, -1 maximised (``np.array([-1])`` reverses the
            ranking).
        k: the exponent, a Python float or int above 0 (``None``: 1).  Larger values favour
            the best individuals more.

    Returns:
        A new (N, 1) float64 column in [0, 1]; all ones when every value is equal.  The worst
            row gets -0.0 when k is an odd integer (0.0 == -0.0).

    Raises:
        RuntimeError: ``error in ulvaro: ...`` when ObjV is not an (N, 1) ndarray (a list
            included), maxormins is not a 1-D ndarray of one entry or its product with ObjV is not a real float64
            array, k is not a Python number or is not above 0, or CV is not a 2-D ndarray of N
            rows, in that order.
        MemoryError: the feasibility rule's scratch vector cannot be allocated.

    Examples:
        >>> ulvaro(np.array([[1.0], [3.0], [2.0]]), k=2)
        array([[1.  ],
               [0.  ],
               [0.25]])
    """
