from typing import Any, Literal, overload

import numpy as np
from numpy.typing import NDArray

@overload
def fendrik(
    CV: NDArray[Any],
    Threshold: float | NDArray[Any] | None = None,
    return_count: Literal[False] | None = False,
    Parallel: bool | None = False,
) -> NDArray[np.float64]: ...
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
