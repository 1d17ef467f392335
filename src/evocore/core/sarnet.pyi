from typing import Any

import numpy as np
from numpy.typing import NDArray

def sarnet(
    OldChrom: NDArray[Any],
    XOVR: float | None = 0.7,
    Half_N: bool | int | None = False,
    Parallel: bool | None = False,
    params4: Any = None,
) -> NDArray[np.int32]:
    """Order crossover (OX) of permutation rows: a child keeps a segment of one parent in place
    and takes the remaining genes in the other parent's order.

    Args:
        OldChrom: (N, L) parents, one permutation per row (distinct integers within int32 per
            row; any integral dtype and layout).
        XOVR: the probability that a pair crosses, 0 to 1 (``None``: 0.7); a pair that does
            not cross is copied.
        Half_N: ``False``: row i is paired with row i + N//2 and both children are returned
            (N rows; with N odd the last row is copied).  ``True``: the first child of each
            pair only (N//2 rows).  A positive Python int h: min(h, N) children, each of a
            freshly drawn pair of distinct parents (XOVR is checked but not used).
        Parallel: ``True`` seeds each pair (or child) with the call's seed plus its index: the
            same result for every team size, but not the serial one.
        params4: accepted and ignored.

    Returns:
        A new int32 matrix of children.  With fewer than 2 rows (or one column and
            ``Half_N=False``) OldChrom itself is returned, converted to C-ordered int32 when
            needed, and nothing is drawn.

    Raises:
        RuntimeError: ``error in sarnet: ...`` when Parallel is not None/True/False, a row
            repeats a value, Half_N is not None, a bool or a positive Python int, or XOVR is
            outside [0, 1], in that order.
        AttributeError: an OldChrom that is not an array (a list: no ``shape``).
        IndexError: a 1-D OldChrom (no second dimension).
        ValueError: an OldChrom of three or more dimensions ("Buffer has wrong number of
            dimensions"); NaN or infinite genes, or an OldChrom without elements (NumPy's).
        OverflowError: genes outside the int32 range.
        MemoryError: scratch tables that cannot be allocated.

    Note:
        Each call takes one value from NumPy's global generator and draws from a generator of
        its own seeded with it, so ``np.random.seed(s)`` makes calls reproducible.

    Examples:
        >>> np.random.seed(1)
        >>> sarnet(np.array([[0, 1, 2, 3], [3, 2, 1, 0]]), 1.0)
        array([[1, 0, 2, 3],
               [2, 3, 1, 0]], dtype=int32)
    """
