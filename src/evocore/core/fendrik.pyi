from typing import Any, Literal, overload

import numpy as np
from numpy.typing import NDArray

@overload
def fendrik(
    CV: NDArray[Any],
    Threshold: float | NDArray[Any] | None = None,
    return_count: Literal[False] | None = False,
    Parallel: bool | None = False,
) -> NDArray[np.float64]:
    """Constraint violations merged into one value per individual, optionally with the number
    of individuals that satisfy the constraints.

    Args:
        CV: (N, k) constraint violations, one row per individual, one column per constraint;
            any real dtype and layout (a C-ordered float64 array is read in place).
        Threshold: a number t (``None``: 0.0): a row's value is the sum of its entries above
            0, and a row satisfies the constraints when that sum is at most t.  Or a 1-D array
            of k thresholds (int32, int64, float32 or float64): a row's value is the sum of
            the entries above their column's threshold (the entries themselves, not their
            excess), and a row satisfies the constraints when that sum is at most 0.
        return_count: ``True``: also return that number of rows.
        Parallel: ``True`` merges on the thread team (the same values; the count is taken on
            the calling thread); ``None`` or ``False`` on the calling thread.

    Returns:
        The (N, 1) float64 column of merged values; with ``return_count=True`` the tuple
            (column, count), count a Python int.

    Raises:
        RuntimeError: ``error in fendrik: ...`` when Parallel is not None/True/False, CV is
            None, Threshold is neither a Python number nor an ndarray (a NumPy int64 scalar or
            a list is refused), has another element type, is not 1-D or not k long, or
            return_count is not None/True/False, in that order.
        AttributeError: a CV that is not an array (a list: no ``shape``).
        IndexError: a 1-D CV (no second dimension).
        ValueError: a CV of three or more dimensions ("Buffer has wrong number of
            dimensions").

    Note:
        Comparisons are strict and a NaN takes no part: a NaN entry adds nothing, and a row
        whose sum or threshold is NaN is not counted.

    Examples:
        >>> CV = np.array([[0.5, -1.0], [0.0, 0.0], [2.0, 3.0]])
        >>> fendrik(CV, return_count=True)
        (array([[0.5],
               [0. ],
               [5. ]]), 1)
        >>> fendrik(CV, np.array([1.0, 2.5]), True)
        (array([[0.],
               [0.],
               [5.]]), 2)
    """
@overload
def fendrik(
    CV: NDArray[Any],
    Threshold: float | NDArray[Any] | None,
    return_count: Literal[True],
    Parallel: bool | None = False,
) -> tuple[NDArray[np.float64], int]: ...
@overload
def fendrik(
    CV: NDArray[Any],
    Threshold: float | NDArray[Any] | None = None,
    *,
    return_count: Literal[True],
    Parallel: bool | None = False,
) -> tuple[NDArray[np.float64], int]: ...
