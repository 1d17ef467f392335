from typing import Any

import numpy as np
from numpy.typing import NDArray

def quelan(
    ObjV: NDArray[Any],
    weights: NDArray[Any],
    idealPoint: NDArray[Any] | None = None,
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    Theta: float | None = 5,
    Parallel: bool | None = False,
) -> NDArray[np.float64]:
    """Penalty-based boundary intersection (PBI) aggregation of MOEA/D: one value per row of
    ObjV, ``d1 + Theta * d2``, where d1 is the length of the projection of
    ``ObjV[i] - idealPoint`` on the direction of ``weights[i]`` and d2 its distance from that
    direction.

    Without ``idealPoint`` nothing is aggregated: the result is then the ideal point of the
    working matrix (its column minima, 1-D), not a column of values.

    Args:
        ObjV: (N, M) objective matrix, one row per individual, one column per objective; any
            real dtype and layout (read as C-ordered float64, never written).
        weights: (N, M) weight vectors, one per row of ObjV; with a one-row ObjV, any number K
            of weight rows, each applied to that row.
        idealPoint: 1-D, M coordinates, in the space of the working matrix (after
            ``maxormins``).  ``None``: return the ideal point instead.
        CV: (N, k) constraint violations, positive entries violated; infeasible rows are
            replaced by the column maxima plus their summed violation before the aggregation,
            as in ``druvik`` (PBI is not monotone, so this does not always rank them last).
        maxormins: 1-D, M entries: 1 minimised, -1 maximised; the columns are multiplied by it.
        Theta: the penalty weight, a Python ``float`` or ``int`` greater than 0 (``None``:
            5).  The kernel uses it rounded to single precision (0.1 acts as
            0.10000000149011612).
        Parallel: ``True`` runs the aggregation on the thread team (the same bits);
            ``None`` or ``False`` on the calling thread.

    Returns:
        An (N, 1) float64 column (K rows with a one-row ObjV); the 1-D ideal point when
            ``idealPoint`` is ``None``.

    Raises:
        RuntimeError: ``error in quelan: ...`` when Parallel is not None/True/False, Theta is
            not a Python float or int (NumPy integer scalars and arrays are refused) or is not
            above 0, then for ObjV, weights, maxormins, CV and idealPoint as in ``druvik``, in
            that order.
        AttributeError: a CV that is not an array (a list: no ``ndim``).
        MemoryError: the feasibility rule's scratch vector cannot be allocated.
        ValueError: from NumPy, for the ideal point of an ObjV without rows.

    Note:
        Nothing is guarded: a row equal to the ideal point, or a zero weight row, gives 0/0 =
        NaN; so does every row with zero objectives.  d1 keeps its sign (a row below the ideal
        point along the weights gives a negative d1).

    Examples:
        >>> ObjV = np.array([[1.0, 4.0], [3.0, 2.0]])
        >>> weights = np.array([[0.5, 0.5], [0.9, 0.1]])
        >>> quelan(ObjV, weights, np.array([1.0, 2.0]))
        array([[8.48528137],
               [3.09208273]])
    """
