from typing import Any, Literal

import numpy as np
from numpy.typing import NDArray

def polvane(
    A: NDArray[Any],
    B: NDArray[Any],
    metric: Literal["euclidean", "cityblock", "cosine", "cosine_similarity"] = "euclidean",
    Parallel: bool | None = False,
) -> NDArray[np.float64]:
    """Distances between the rows of A and the rows of B: entry (i, j) relates ``A[i]`` to
    ``B[j]``.

    Args:
        A: (n_a, d) matrix; any real dtype (float32, integers, ...) and layout.
        B: (n_b, d) matrix with the same number of columns.  Passing the very same object as
            A (``polvane(A, A)``) computes each pair once and gives an exactly symmetric
            result with a zero diagonal.
        metric: ``'euclidean'``, ``'cityblock'`` (each entry summed over the columns in order:
            the bits of the plain loop), ``'cosine'`` (1 minus the cosine of the angle) or
            ``'cosine_similarity'`` (both through the matrix product of the unit rows).
        Parallel: ``True`` computes on the thread team (the same bits).

    Returns:
        A new (n_a, n_b) float64 matrix.

    Raises:
        RuntimeError: ``error in polvane: ...`` when Parallel is not None/True/False, A and B
            differ in columns, or metric is not one of the four names.
        AttributeError: an A or B that is not an array (a list: no ``shape``).
        IndexError: an A or B of fewer than 2 dimensions.
        ValueError: an A or B of three or more dimensions ("Buffer has wrong number of
            dimensions").
        TypeError: an A or B that has a ``shape`` but is not an array.

    Examples:
        >>> A = np.array([[0, 0, 0], [1, 2, 2]])
        >>> polvane(A, np.array([[0.0, 0.0, 0.0]]))
        array([[0.],
               [3.]])
        >>> polvane(A, np.array([[0.0, 0.0, 0.0]]), "cityblock")
        array([[0.],
               [5.]])
    """
