from typing import Any

import numpy as np
from numpy.typing import NDArray

def tamsen(
    Nind: int,
    FieldDR: NDArray[Any],
    Parallel: bool | None = False,
) -> NDArray[np.float64] | NDArray[np.int32]:
    """A random population between bounds: each entry uniform on its column's interval,
    rounded for integer columns.

    Args:
        Nind: the number of rows, a Python int above 0.
        FieldDR: (3, n): lower bounds, upper bounds, and 0 for a continuous / 1 for an integer
            variable.  A continuous column takes values in [lb, ub); an integer column every
            integer from lb to ub (the two end values slightly less often).
        Parallel: ``True`` draws on the thread team: row r from a generator seeded with the
            call's seed plus r, so the result is the same for every team size but differs
            from the serial one.

    Returns:
        A new (Nind, n) float64 matrix, or int32 when no column is continuous.

    Raises:
        RuntimeError: ``error in tamsen: ...`` when Parallel is not None/True/False, Nind is
            not a Python int above 0 (a NumPy integer is refused), or FieldDR does not have 3
            rows.
        AttributeError: a FieldDR that is not an array (a list: no ``shape``).
        ValueError: a FieldDR that is not 2-D (from unpacking its shape, before the Nind
            check).

    Note:
        Each call takes one value from NumPy's global generator and draws from a generator of
        its own seeded with it (the C library's ``srand``/``rand`` sequence), so
        ``np.random.seed(s)`` makes calls reproducible and nothing else is disturbed.  Bounds
        are not checked: ub below lb draws from [lb, 2 lb - ub).

    Examples:
        >>> np.random.seed(1)
        >>> Chrom = tamsen(4, np.array([[0.0, 1.0], [10.0, 3.0], [0.0, 1.0]]))
        >>> Chrom.shape, Chrom.dtype.name, bool(np.isin(Chrom[:, 1], [1, 2, 3]).all())
        ((4, 2), 'float64', True)
    """
