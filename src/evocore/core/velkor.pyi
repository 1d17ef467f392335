from typing import Any

import numpy as np
from numpy.typing import NDArray

def velkor(
    Phen: NDArray[Any],
    FieldD: NDArray[Any],
    Parallel: bool | None = False,
) -> NDArray[np.int32]:
    """Encodes real and integer values as binary or Gray-coded digits: each variable becomes a
    segment of 0/1 digits (most significant first) of every chromosome row.

    Args:
        Phen: (N, n) values, one row per individual, one column per variable; any real dtype
            and layout.
        FieldD: (8, n) description of the variables, one column each, rows: the segment length
            in digits (0 to 31); lb; ub; 0 binary / 1 Gray; scale (not read: always linear);
            1 if lb is in the range (0 excluded); 1 if ub is in the range; 0 continuous /
            1 integer.  A continuous variable with both bounds included maps
            ``lb + m (ub - lb) / (2**len - 1)`` to code m (truncating between); an integer
            variable is rounded to the nearest code.
        Parallel: ``True`` encodes on the thread team (the same digits).

    Returns:
        A new (N, sum of lengths) int32 matrix of digits.

    Raises:
        RuntimeError: ``error in velkor: ...`` when Parallel is not None/True/False, FieldD
            does not have 8 rows or not n columns, a length is above 31, or a length is
            negative, in that order.
        AttributeError: a Phen or FieldD that is not an array (a list: no ``shape``).
        IndexError: a 1-D Phen or FieldD (no second dimension).
        ValueError: a Phen, or a FieldD of 8 rows, of three or more dimensions ("Buffer has
            wrong number of dimensions"), once the checks above pass.
        MemoryError: the kernel's tables cannot be allocated.

    Note:
        Values are not clamped: a code below 0 gives digits 0 and -1, a code of 2**len or more
        keeps its low digits; NaN, infinity, lb == ub and codes beyond the int32 range give a
        segment of zeros.  Built by GCC for x86-64 (the Linux wheels) the encoder writes the
        digits 8 at a time on processors with AVX2 and 4 at a time otherwise; other compilers
        (Clang) build the 4-digit form alone.  The bytes are the same either way.

    Examples:
        >>> FieldD = np.array([[4], [0], [10], [1], [0], [1], [1], [0]])   # 4 Gray digits on [0, 10]
        >>> velkor(np.array([[5.0], [10.0]]), FieldD)
        array([[0, 1, 0, 0],
               [1, 0, 0, 0]], dtype=int32)
    """
