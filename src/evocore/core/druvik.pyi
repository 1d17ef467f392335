from typing import Any

import numpy as np
from numpy.typing import NDArray

def druvik(
    ObjV: NDArray[Any],
    weights: NDArray[Any],
    idealPoint: NDArray[Any] | None = None,
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    Parallel: bool | None = False,
) -> NDArray[np.float64]: ...
