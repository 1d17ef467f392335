from typing import Any

import numpy as np
from numpy.typing import NDArray

def associate(ObjV: NDArray[Any], refpoints: NDArray[Any]) -> tuple[NDArray[np.int32], NDArray[np.float64]]:
    """NSGA-III's association: for every row of ObjV (normalised objectives), the nearest
    reference line through the origin and a row of refpoints, and the row's perpendicular
    distance from it.

    Every reference row w becomes a unit vector ``u = w / sqrt(sum(w_k**2))``; for a row f,
    ``p = sum(f_k * u_k)`` and ``d2 = sum((f_k - p * u_k)**2)``, every sum taken from the
    left.  The first reference with the smallest d2 wins and the distance is ``sqrt(d2)``.  A
    row with a NaN, or whose every d2 is NaN (an infinite objective), gets index -1 and
    distance NaN.

    Args:
        ObjV: (N, M) objective matrix; any real dtype and layout.
        refpoints: (K, M) reference points, K >= 1, for example the simplex-lattice points of
            NSGA-III; every row must have a positive finite length.

    Returns:
        ``(index, distance)``: a new 1-D int32 array of N reference rows and a new 1-D
            float64 array of N distances.

    Raises:
        RuntimeError: ``error in associate: ...`` when ObjV is not a 2-D ndarray, refpoints
            is not a 2-D ndarray of at least one row and M columns, or a reference row's
            length is 0, NaN or infinite, checked in that order.

    Examples:
        >>> W = np.array([[1.0, 0.0], [1.0, 1.0], [0.0, 1.0]])
        >>> associate(np.array([[2.0, 0.5], [1.0, 1.2], [0.0, 3.0]]), W)
        (array([0, 1, 2], dtype=int32), array([0.5       , 0.14142136, 0.        ]))
    """
